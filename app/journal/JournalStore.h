// The journals of runs on disk, one file per run, in the user's local
// application data folder (%LOCALAPPDATA%\Kestrane\); and the files an undo
// reads and writes. Paths are UTF-16 throughout and may be \\?\ paths.
//
// The run:
//     JournalStore store(JournalStore::DefaultFolder());
//     auto journal = store.StartRun(info);      // null: do not start the run
//     for each file the plug-in has written:
//         auto written = FileSource::Open(path);
//         if (!written || !journal->Append({ToU16(path), oldTime, oldAttributes,
//                                           written->LastWriteTime()}, old, oldSize, *written))
//             put the file back from `old` and stop the run
//     journal.reset(); store.Prune();
// The undo:
//     auto run = store.NewestNotUndone();
//     auto source = FileSource::Open(run->path);
//     auto reader = JournalReader::Open(*source);  // null: the journal is damaged
//     for each of reader->Files() from the last to the first (a file written
//     twice in one run goes back one step at a time), when `complete`:
//         auto current = FileSource::Open(ToWide(file.path));   // null: moved or deleted
//         CheckAsLeft(file, *current, current->LastWriteTime()) == UndoStep::Ok
//         auto temporary = TemporaryFile::CreateBeside(ToWide(file.path));
//         reader->Rebuild(file, *current, *temporary) == UndoStep::Ok && temporary->Finish()
//         close `current`, replace the file with temporary->Path(), Release() it,
//         give the file record.before.time and record.beforeAttributes;
//     at the end store.MarkUndone(*run).
#ifndef KESTRANE_JOURNAL_STORE_H
#define KESTRANE_JOURNAL_STORE_H

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Handles.h"
#include "Journal.h"

namespace kes::journal {

// The journal's core holds UTF-16 as char16_t, Windows as wchar_t: the same
// code units.
inline std::u16string ToU16(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }
inline std::wstring ToWide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

// A file read in pieces. It stays open, and nobody may write, rename or
// delete it meanwhile, so that what was checked is what is read.
class FileSource : public ByteSource {
public:
    // Null when the file cannot be opened (missing, a folder, in use);
    // GetLastError() then tells why.
    static std::unique_ptr<FileSource> Open(const std::wstring& path);
    // Takes over a handle opened for reading; null when it tells nothing
    // of its file.
    static std::unique_ptr<FileSource> Adopt(CFileHandle file);
    uint64_t Size() const override { return size_; }
    bool Read(uint64_t offset, uint8_t* buffer, size_t length) override;
    uint64_t LastWriteTime() const { return lastWriteTime_; }  // FILETIME
    uint32_t Attributes() const { return attributes_; }
    HANDLE Handle() const { return file_.Get(); }

private:
    explicit FileSource(CFileHandle file) : file_(std::move(file)) {}
    CFileHandle file_;
    uint64_t size_ = 0;
    uint64_t lastWriteTime_ = 0;
    uint32_t attributes_ = 0;
};

// The identities of open files. A volume's serial number costs Wine half a
// millisecond to look up, so it is looked up once per folder.
class FileIdentities {
public:
    // `folder` names the folder the file was opened in.
    std::optional<FileIdentity> Of(HANDLE file, const std::wstring& folder);

private:
    std::map<std::wstring, uint32_t> volumes_;
};

// A new file beside a target, for its rebuilt contents, so that replacing
// the target is a rename within one folder. Deleted when the object goes,
// unless released.
class TemporaryFile : public ByteSink {
public:
    static std::unique_ptr<TemporaryFile> CreateBeside(const std::wstring& target);
    ~TemporaryFile() override;
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool Write(const uint8_t* data, size_t length) override;
    // Makes every byte durable and closes the file, ready to replace the
    // target.
    bool Finish();
    const std::wstring& Path() const { return path_; }
    // The file now lives on under another name: it is no longer deleted.
    void Release() { released_ = true; }

private:
    TemporaryFile(CFileHandle file, std::wstring path) : file_(std::move(file)), path_(std::move(path)) {}
    CFileHandle file_;
    std::wstring path_;
    bool released_ = false;
};

// The journal of the run (or the undo) under way.
class RunJournal {
public:
    ~RunJournal();
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;

    // Journals one file the run has written (see JournalWriter::AppendFile);
    // true once its record is on disk. False on any failure, and on every
    // call after one.
    bool Append(const WrittenFile& file, const uint8_t* old, size_t oldSize, ByteSource& newFile) {
        return writer_.AppendFile(file, old, oldSize, newFile);
    }
    JournalWriter& Writer() { return writer_; }
    const std::wstring& Path() const { return path_; }
    // Ends the journal: a run's takes its name of a run that has ended, to
    // be undone; an undo's is deleted. Done by the destructor too.
    bool Close();

private:
    friend class JournalStore;
    // Writes go to the file in one call each; a flush asks Windows to put
    // them on the disk.
    class HandleOutput : public RecordOutput {
    public:
        explicit HandleOutput(HANDLE file) : file_(file) {}
        bool Write(const uint8_t* data, size_t length) override;
        bool Flush() override { return FlushFileBuffers(file_) != FALSE; }

    private:
        HANDLE file_;
    };

    RunJournal(CFileHandle file, std::wstring path, std::wstring kept, uint64_t salt, RunInfo info)
        : file_(std::move(file)),
          path_(std::move(path)),
          kept_(std::move(kept)),
          output_(file_.Get()),
          writer_(output_, salt, std::move(info)) {}

    CFileHandle file_;
    std::wstring path_;
    std::wstring kept_;  // its name once closed; empty: deleted then
    HandleOutput output_;
    JournalWriter writer_;
};

struct RunFile {
    std::wstring path;
    uint64_t id = 0;  // in the order runs started: the newest has the highest
    bool undone = false;
    bool open = false;  // being written, or left so by a crash
    uint64_t size = 0;  // bytes
};

// How much of the past the store keeps.
struct StoreLimits {
    size_t keepRuns = 10;
    uint64_t sizeCap = uint64_t{512} << 20;
};

class JournalStore {
public:
    explicit JournalStore(std::wstring folder, StoreLimits limits = {})
        : folder_(std::move(folder)), limits_(limits) {}
    // %LOCALAPPDATA%\Kestrane; empty when Windows names no such folder.
    static std::wstring DefaultFolder();

    // Creates the folder when it is missing (its parent must exist) and the
    // run's journal, whose header is on disk when this returns. Null when
    // either cannot be done: the run must not start then.
    std::unique_ptr<RunJournal> StartRun(const RunInfo& info) const;
    // The same for an undo's own replaces.
    std::unique_ptr<RunJournal> StartUndo(const RunInfo& info) const;
    // Newest first.
    std::vector<RunFile> Runs() const;
    // The journals of runs and undos that never ended: being written by
    // another window, or left by a crash.
    std::vector<std::wstring> Unfinished() const;
    // After the replaces an unfinished journal names have been recovered:
    // a run's is kept as a run that has ended, an undo's deleted.
    bool Recovered(const std::wstring& path) const;
    std::optional<RunFile> NewestNotUndone() const;
    // Renames the run's journal to its undone name; false when it is still
    // being written, or the rename fails.
    bool MarkUndone(const RunFile& run) const;
    // Deletes the oldest journals until at most `keepRuns` remain within
    // `sizeCap` bytes; the newest, and the journal at `written` (the run
    // just written), always stay. A journal still being written is never
    // deleted.
    void Prune(const std::wstring& written = std::wstring()) const;

private:
    std::unique_ptr<RunJournal> Start(const RunInfo& info, bool run) const;
    std::vector<RunFile> List(const wchar_t* prefix) const;

    std::wstring folder_;
    StoreLimits limits_;
};

}  // namespace kes::journal

#endif
