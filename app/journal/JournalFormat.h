// The bytes of a run's journal file. Portable: no Windows calls.
//
// A journal starts with a header:
//   magic "KESJRNL\x1a", version (u32), length of the body (u32),
//   body: salt (u64), start time (u64, a FILETIME in UTC), the run's folder,
//         the plug-in's type description and its file name (each a varint
//         count of UTF-16 code units, then the units),
//   CRC-32 of everything before it (u32).
// Records follow, each written to disk in one call:
//   payload length (u32), sequence number (u32, from 0),
//   CRC-32 of salt, sequence number, length and payload (u32), payload.
// The salt ties every record to its journal: a record from another journal
// (a reused file, stale blocks after a crash) never passes the check.
// Numbers are little-endian; varints are LEB128.
//
// A payload's first byte is its type. A file record tells what a run did
// to one file; it is followed by one chunk record per chunk of the delta
// (see Delta.h), so that neither side of a big file's delta ever holds more
// than one chunk of it. An intent record names a replace the tool is about
// to make without keeping the old contents (an undo's, a put-back's). A
// done record says that every replace named before it has ended, and which
// file each written one is now.
//
// A file or intent record with a token names the temporary and backup
// files of its replace (TemporaryName, BackupName), so that after a crash
// the next start can finish or undo what was cut short.
#ifndef KESTRANE_JOURNAL_FORMAT_H
#define KESTRANE_JOURNAL_FORMAT_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ByteStreams.h"
#include "Sha256.h"

namespace kes::journal {

// Version 2 keeps each written file's identity; version 1 journals, of
// the release before, are read too.
constexpr uint32_t kJournalVersion = 2;
constexpr size_t kRecordHeaderSize = 12;
// The longest payload a record may have: a chunk's frame is at most a little
// more than a chunk. A longer length is damage, never a reason to allocate.
constexpr uint32_t kMaxPayload = 48u << 20;
// Far beyond any file, and small enough that sizes never overflow a signed
// 64-bit sum.
constexpr uint64_t kMaxFileSize = uint64_t{1} << 62;

enum class RecordType : uint8_t { File = 1, Chunk = 2, Done = 3, Intent = 4 };

struct RunInfo {
    uint64_t startTime = 0;  // FILETIME, UTC
    std::u16string folder;
    std::u16string typeDescription;
    std::u16string pluginFile;
};

// A file's contents at one moment, as a run saw them.
struct FileVersion {
    uint64_t size = 0;
    uint64_t time = 0;  // last write, FILETIME
    Digest hash{};
};

// Which file a path led to: its volume's serial number and its number on
// that volume. Another file put at the path, or the path led elsewhere by a
// link, has another identity.
struct FileIdentity {
    uint32_t volume = 0;
    uint64_t file = 0;
    bool operator==(const FileIdentity& o) const { return volume == o.volume && file == o.file; }
    bool operator!=(const FileIdentity& o) const { return !(*this == o); }
};

struct FileRecord {
    // Relative to the run's folder when `relative`, else the full path.
    std::u16string path;
    bool relative = false;
    FileVersion before;
    uint32_t beforeAttributes = 0;
    FileVersion after;
    // How many bytes at the start and at the end the old and the new
    // contents share; the delta holds the old bytes between them.
    uint64_t prefix = 0;
    uint64_t suffix = 0;
    // The written file's, as the run left it; unknown in a version 1 journal.
    std::optional<FileIdentity> identity;
    // Names the temporary and backup files of the tool's replace; 0 when
    // the plug-in wrote the file itself.
    uint64_t token = 0;
};

// A replace the tool is about to make, and the contents before and after.
struct IntentRecord {
    std::u16string path;  // relative to the run's folder when `relative`
    bool relative = false;
    uint64_t token = 0;
    FileVersion before;
    FileVersion after;
};

// Every replace named before this record has ended. The files among them
// that were written, by their place among the journal's file records, with
// the identity each has now.
struct DoneRecord {
    std::vector<std::pair<uint32_t, FileIdentity>> identities;
};

// The names of the temporary file and of the backup of one replace, in
// the replaced file's folder: a token makes them, so that the journal
// needs to keep only the token.
std::u16string TemporaryName(uint64_t token);
std::u16string BackupName(uint64_t token);

struct JournalHeader {
    uint32_t version = kJournalVersion;
    uint64_t salt = 0;
    RunInfo info;
    uint64_t size = 0;  // bytes of the header in the file: records start here
};

std::vector<uint8_t> EncodeHeader(uint64_t salt, const RunInfo& info);
// Nothing when the source does not start with an intact header.
std::optional<JournalHeader> DecodeHeader(ByteSource& journal);

// A record is built in place, so that a chunk's frame is never copied: room
// for the header and the type, then the payload, then SealRecord fills in
// the header.
std::vector<uint8_t> NewRecord(RecordType type);
void SealRecord(std::vector<uint8_t>& record, uint64_t salt, uint32_t sequence);
uint32_t RecordCrc(uint64_t salt, uint32_t sequence, uint32_t length, const uint8_t* payload);

// The payload of the record at `offset` when it is intact and numbered
// `sequence`: its length fits what is left, and its CRC matches.
std::optional<std::vector<uint8_t>> ReadRecord(ByteSource& journal, uint64_t salt, uint64_t offset,
                                               uint32_t sequence);
// Whether any intact record numbered `sequence` or later starts after
// `offset`. After a record that is not intact, this tells damage with
// records behind it from the torn end that a crash leaves.
bool IntactRecordAfter(ByteSource& journal, uint64_t salt, uint64_t offset, uint32_t sequence);

// Appends a file record's payload after NewRecord(RecordType::File).
void AppendFileFields(std::vector<uint8_t>& record, const FileRecord& file);
// Nothing unless the payload (type byte first) is exactly one well-formed
// file record: a path without NULs, sizes up to kMaxFileSize, and a
// prefix and suffix that fit both versions.
std::optional<FileRecord> DecodeFileRecord(const uint8_t* payload, size_t size, uint32_t version = kJournalVersion);

void AppendIntentFields(std::vector<uint8_t>& record, const IntentRecord& intent);
std::optional<IntentRecord> DecodeIntentRecord(const uint8_t* payload, size_t size);
void AppendDoneFields(std::vector<uint8_t>& record, const DoneRecord& done);
std::optional<DoneRecord> DecodeDoneRecord(const uint8_t* payload, size_t size);

}  // namespace kes::journal

#endif
