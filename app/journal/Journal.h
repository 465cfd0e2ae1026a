// A run's journal: written record by record as the run writes files, read
// back by an undo. Portable: the files behind it are ByteSources and a
// RecordOutput (JournalStore.h has the Windows ones).
//
// The run, for each file it has written:
//     writer.AppendFile({path, oldTime, oldAttributes, newTime}, old, oldSize, newFile)
//   and when that fails, it puts the file back from `old` and stops: no file
//   may stay changed without its record.
// The undo:
//     reader = JournalReader::Open(journal)   // every record, checked
//     for each file, newest first:
//       CheckAsLeft(file, current, currentTime)  // size, time and hash
//       reader->Rebuild(file, current, temporary) // the old bytes, hash checked
//       and only when both say Ok does it replace the file with `temporary`.
#ifndef KESTRANE_JOURNAL_JOURNAL_H
#define KESTRANE_JOURNAL_JOURNAL_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ByteStreams.h"
#include "Delta.h"
#include "JournalFormat.h"

namespace kes::journal {

// What the run knows of a file it has just written, besides the contents.
struct WrittenFile {
    std::u16string path;  // full path
    uint64_t oldTime = 0;  // FILETIME of the last write before the run
    uint32_t oldAttributes = 0;
    uint64_t newTime = 0;  // and as the run leaves the file
    std::optional<FileIdentity> identity = std::nullopt;  // of the file as the run leaves it
    // Names the temporary and backup files of the tool's replace of it (0:
    // the plug-in wrote it itself).
    uint64_t token = 0;
};

class JournalWriter {
public:
    JournalWriter(RecordOutput& out, uint64_t salt, RunInfo info);

    // Writes the header and makes it durable.
    bool Begin();
    // Writes the record of one file the run has written, or is about to
    // write: `old` is what the file held (in memory), `newFile` what it
    // holds now, or will. True once every byte of it is durable, or, when
    // not `durable`, written for the next Flush. After a failure the run
    // stops, and the journal's end may hold a part of a record: every later
    // call fails.
    bool AppendFile(const WrittenFile& file, const uint8_t* old, size_t oldSize, ByteSource& newFile,
                    bool durable = true);
    // A replace the tool is about to make that keeps no old contents (an
    // undo's, a put-back's); written for the next Flush.
    bool AppendIntent(const IntentRecord& intent);
    // Every replace named so far has ended; written for the next Flush.
    bool AppendDone(const DoneRecord& done);
    // Makes everything written so far durable.
    bool Flush();

private:
    bool Put(std::vector<uint8_t>& record, std::vector<uint8_t>& pending);
    bool Fail();

    bool Write(std::vector<uint8_t>& record);
    // A path below the run's folder as the record keeps it.
    void PlacePath(const std::u16string& path, std::u16string& kept, bool& relative) const;

    RecordOutput& out_;
    uint64_t salt_;
    RunInfo info_;
    uint32_t sequence_ = 0;
    bool failed_ = false;
    DeltaEncoder encoder_;
};

// How the records of a journal end, after the last intact one.
enum class JournalEnd {
    Clean,     // at a record's end: nothing else follows
    TornTail,  // a record cut short or never finished, as a crash leaves it
    Damaged,   // a record that fails its checks, with intact records after it
};

struct ChunkRef {
    uint64_t offset;  // of the chunk record in the journal
    uint32_t sequence;
};

struct FileEntry {
    std::u16string path;  // full path
    FileRecord record;    // its identity is the latest a done record gave
    std::vector<ChunkRef> chunks;
    // False when the journal ends before all of its chunk records: the
    // run stopped (or crashed) while writing them, and it cannot be undone.
    bool complete = false;
};

// A replace whose end no done record tells: a crash may have cut it short.
struct OpenReplace {
    std::u16string path;  // full path
    uint64_t token = 0;
    FileVersion before;
    FileVersion after;
};

enum class UndoStep {
    Ok,
    FileChanged,     // the file is not as the run left it
    JournalDamaged,  // the record cannot give the old bytes back
    ReadFailed,
    WriteFailed,
};

// Where the record's two versions differ (see Delta.h).
Middles MiddlesOf(const FileRecord& record);

// Is the file still exactly as the run left it: size, time, then hash?
UndoStep CheckAsLeft(const FileEntry& file, ByteSource& current, uint64_t currentTime);

class JournalReader {
public:
    // Reads the header and every record up to the first that is not intact.
    // Nothing when the header itself is not intact: then no record can be
    // trusted. The source must outlive the reader.
    static std::optional<JournalReader> Open(ByteSource& journal);

    const RunInfo& Info() const { return header_.info; }
    // In the order the run wrote them.
    const std::vector<FileEntry>& Files() const { return files_; }
    JournalEnd End() const { return end_; }
    // The tool's replaces named after the last done record.
    std::vector<OpenReplace> OpenReplaces() const;

    // Writes the file's old contents to `out`, rebuilt from the current
    // file (which CheckAsLeft found as the run left it) and the journal.
    // Ok only when they match the recorded old size and hash: on anything
    // else `out` holds bytes that must not be used.
    UndoStep Rebuild(const FileEntry& file, ByteSource& current, ByteSink& out) const;

private:
    JournalReader(ByteSource& journal, JournalHeader header) : journal_(&journal), header_(std::move(header)) {}
    void ReadRecords();
    bool Take(const std::vector<uint8_t>& payload, uint64_t offset, uint32_t sequence);
    bool TakeFile(const std::vector<uint8_t>& payload);
    std::u16string FullPath(const std::u16string& path, bool relative) const;

    ByteSource* journal_;
    JournalHeader header_;
    std::vector<FileEntry> files_;
    JournalEnd end_ = JournalEnd::Clean;
    uint64_t missingChunks_ = 0;  // chunk records the last file still lacks
    std::vector<OpenReplace> open_;  // since the last done record
};

}  // namespace kes::journal

#endif
