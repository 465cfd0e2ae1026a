#include "Step.h"

#include <cstring>
#include <vector>

#include "Handles.h"
#include "Kes_bat_data.h"
#include "SafeReplace.h"
#include "WholeFile.h"

using namespace kes::journal;

namespace {

// Up to this size a written file is read back whole. A larger one is read
// in pieces, and its comment read through a view of the file, of which
// only what the plug-in looks at is brought in: the tool already holds the
// old contents, and a second copy of a file of a gigabyte would not fit.
constexpr uint64_t kWholeReadBack = 16u << 20;


// A file's whole contents as one read-only view, for a plug-in's reader.
class CFileView {
public:
    explicit CFileView(const std::wstring& win32) {
        CFileHandle file(CreateFileW(win32.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        LARGE_INTEGER size;
        if (!file.IsOpen() || !GetFileSizeEx(file.Get(), &size) || size.QuadPart == 0) return;
        CFileHandle mapping(CreateFileMappingW(file.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
        if (!mapping.IsOpen()) return;
        view_ = MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0);
        if (view_ != nullptr) size_ = static_cast<size_t>(size.QuadPart);
    }
    CFileView(const CFileView&) = delete;
    CFileView& operator=(const CFileView&) = delete;
    ~CFileView() {
        if (view_ != nullptr) UnmapViewOfFile(view_);
    }
    bool Mapped() const { return view_ != nullptr; }
    std::string_view Bytes() const { return std::string_view(static_cast<const char*>(view_), size_); }

private:
    void* view_ = nullptr;
    size_t size_ = 0;
};

// Whether the file reads back with the comment that was written: a
// plug-in that reads comments must find exactly it (no comment for an
// empty one). Of another plug-in's file nothing more can be known than
// that it could be read.
bool ReadsBackAsWritten(const TFilePath& path, std::string_view contents, const std::wstring& comment) {
    if (!KesBat.PreparedReads()) return true;
    std::optional<std::wstring> found;
    return KesBat.ReadComment(path, contents, found) == 0 && found.value_or(std::wstring()) == comment;
}

// The state of a file seen through an open handle, as the replace checks it.
WIN32_FILE_ATTRIBUTE_DATA SeenOf(const FileSource& file) {
    WIN32_FILE_ATTRIBUTE_DATA seen{};
    seen.dwFileAttributes = file.Attributes();
    seen.ftLastWriteTime = ToFileTime(file.LastWriteTime());
    seen.nFileSizeHigh = static_cast<DWORD>(file.Size() >> 32);
    seen.nFileSizeLow = static_cast<DWORD>(file.Size());
    return seen;
}

// Puts the contents the tool read back into the file, with the time it
// had, through the tool's commit: its replace is named first in a journal
// of its own, which the next start would finish after a crash. Where no
// journal can be written (a full disk), the file goes back all the same,
// through the safe replace alone: a file changed without its record is
// worse than a put-back that a crash could cut short.
bool PutBack(const TFilePath& path, const TFileContents& old, const JournalStore& store, TEngineReport& report) {
    std::unique_ptr<FileSource> current = FileSource::Open(path.Win32());
    if (!current) return false;
    std::unique_ptr<RunJournal> journal = store.StartUndo(RunInfo{});
    if (!journal) {
        const WIN32_FILE_ATTRIBUTE_DATA seen = SeenOf(*current);
        current.reset();
        const kes::WriteResult result = kes::ReplaceContents(
            path, seen, [&](const auto& put) { return put(old.View()); }, &old.LastWrite);
        return result == kes::kWritten || result == kes::kBackupLeft;
    }
    const std::optional<Digest> now = HashOf(*current);
    MemorySource oldSource(old.Data.get(), old.Size);
    const std::optional<Digest> before = HashOf(oldSource);
    if (!now || !before) return false;
    TCommitFile file;
    file.Path = path;
    file.Seen = SeenOf(*current);
    file.Write = [&](kes::CReplacement& replacement) { return replacement.Write(old.View()); };
    file.Time = old.LastWrite;
    file.Token = kes::NewReplaceToken();
    const IntentRecord intent{ToU16(path.Absolute().Text()), false, file.Token,
                              {current->Size(), current->LastWriteTime(), *now},
                              {old.Size, Join64(old.LastWrite), *before}};
    current.reset();  // the replace must have the file to itself
    FileIdentities identities;
    kes::CHeldRetry retry;
    std::vector<TCommitFile> group{std::move(file)};
    const bool committed = journal->Writer().AppendIntent(intent) &&
                           TGroupCommit(journal->Writer(), report, identities, retry).Commit(group, [](TCommitFile&) {
                               return true;
                           });
    return committed && (group[0].Result == kes::kWritten || group[0].Result == kes::kBackupLeft);
}

// A file the plug-in deleted, made anew from the contents the tool read,
// with their time and attributes.
bool Recreate(const TFilePath& path, const TFileContents& old) {
    constexpr DWORD kCreatable = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                 FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_TEMPORARY;
    const DWORD attributes = old.Attributes & kCreatable;
    CFileHandle file(CreateFileW(path.Win32().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL, nullptr));
    const bool made = file.IsOpen() && WriteAll(file.Get(), old.Data.get(), old.Size) &&
                      SetFileTime(file.Get(), nullptr, nullptr, &old.LastWrite) && FlushFileBuffers(file.Get());
    file.Close();
    return made && (!(old.Attributes & FILE_ATTRIBUTE_READONLY) ||
                    SetFileAttributesW(path.Win32().c_str(), old.Attributes & (kCreatable | FILE_ATTRIBUTE_READONLY)));
}

// Hands rebuilt bytes on to the replace's writer.
class CPutSink : public ByteSink {
public:
    explicit CPutSink(const std::function<bool(std::string_view)>& put) : put_(put) {}
    bool Write(const uint8_t* data, size_t length) override {
        return put_(std::string_view(reinterpret_cast<const char*>(data), length));
    }

private:
    const std::function<bool(std::string_view)>& put_;
};

// The attributes an undo gives back; the rest the system keeps to itself.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
                                      FILE_ATTRIBUTE_TEMPORARY;

}  // namespace

TRunRecorder::TRunRecorder(JournalStore store, const TFilePath& root, RunInfo info)
    : store_(std::move(store)), root_(root.WithTrailingDelimiter().Text()), info_(std::move(info)) {
    // An undo may come from another current folder: the journal holds the
    // folder from its drive or share. Only the folder as typed is made
    // full, names kept: "y." is not "y". The names below it are the
    // search's own.
    absoluteRoot_ = TFilePath(root_).Absolute().WithTrailingDelimiter().Text();
    info_.folder = ToU16(absoluteRoot_);
}

std::u16string TRunRecorder::FullPath(const TFilePath& path) const {
    const std::wstring& text = path.Text();
    return ToU16(text.compare(0, root_.size(), root_) == 0 ? absoluteRoot_ + text.substr(root_.size()) : text);
}

bool TRunRecorder::Started() {
    if (!failed_ && !journal_) journal_ = store_.StartRun(info_);
    failed_ = failed_ || !journal_;
    return !failed_;
}

bool TRunRecorder::Record(const TFilePath& path, const TFileContents& old, const FileSource& after,
                          ByteSource& contents) {
    if (!Started()) return false;
    WrittenFile file{FullPath(path), Join64(old.LastWrite), old.Attributes, after.LastWriteTime(),
                     identities_.Of(after.Handle(), path.Folder().Text())};
    failed_ = !journal_->Append(file, old.Data.get(), old.Size, contents);
    if (!failed_) ++files_;
    return !failed_;
}

std::optional<uint32_t> TRunRecorder::RecordPlanned(const TFilePath& path, const TFileContents& old,
                                                    uint64_t newTime, uint64_t token, ByteSource& contents) {
    if (!Started()) return std::nullopt;
    WrittenFile file{FullPath(path), Join64(old.LastWrite), old.Attributes, newTime};
    file.token = token;
    failed_ = !journal_->Writer().AppendFile(file, old.Data.get(), old.Size, contents, false);
    if (failed_) return std::nullopt;
    return files_++;
}

void TRunRecorder::Finish() {
    std::wstring written;
    if (journal_) {
        journal_->Close();
        written = journal_->Path();
    }
    journal_.reset();
    store_.Prune(written);
}

int TFileStep::Write(HWND window, const TFilePath& path, const std::wstring& comment, TRunRecorder& recorder,
                     TEngineReport& report, kes::CHeldRetry& retry, bool& stop) {
    TFileContents old;
    const int result = KesBat.WriteOneFile(window, path, comment, old, retry);
    if (!HandedToPlugin(result)) return result;
    const bool claimsWritten = result == 0 || (KesBat.PreparedUnicode() && result == CpiBackupLeft);
    const std::wstring win32 = path.Win32();

    // Whatever the plug-in answered, what it left is read back: a file that
    // changed keeps its record, so that the run can be taken back.
    std::unique_ptr<FileSource> after = FileSource::Open(win32);
    // Deleted, whatever the plug-in said: the tool still holds its bytes.
    // It keeps its record too, as any file the run has touched.
    if (!after && GetLastError() == ERROR_FILE_NOT_FOUND && Recreate(path, old) &&
        (after = FileSource::Open(win32))) {
        MemorySource same(old.Data.get(), old.Size);
        if (recorder.Record(path, old, *after, same)) return ErrDeletedRestored;
        stop = true;
        return ErrNoRecord;
    }
    // Held by another program, or gone for good: nothing to read back.
    if (!after) return claimsWritten ? ErrCheckNotRestored : result;
    const uint64_t size = after->Size();
    const bool whole = size <= kWholeReadBack;
    std::vector<uint8_t> bytes(whole ? static_cast<size_t>(size) : 0);
    const bool readable = !whole || after->Read(0, bytes.data(), bytes.size());
    const std::string_view newContents(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    // Unchanged, to the byte and the time: nothing to keep.
    if (readable && whole && newContents == old.View() && after->LastWriteTime() == Join64(old.LastWrite))
        return result;

    bool putBackFailed = false;
    if (claimsWritten) {
        bool asWritten = readable;
        if (asWritten && whole) {
            asWritten = ReadsBackAsWritten(path, newContents, comment);
        } else if (asWritten) {
            const CFileView view(win32);
            // A view that does not fit the address space beside the old
            // contents leaves the check at what the journal's reading of
            // the whole file shows: that it can be read.
            asWritten = !view.Mapped() || ReadsBackAsWritten(path, view.Bytes(), comment);
        }
        if (!asWritten) {
            after.reset();  // the replace must have the file to itself
            if (PutBack(path, old, recorder.Store(), report)) return ErrCheckRestored;
            // Left as the plug-in wrote it: kept on record for an undo.
            putBackFailed = true;
            after = FileSource::Open(win32);
            if (!after) return ErrCheckNotRestored;
        }
    }
    MemorySource inMemory(bytes.data(), bytes.size());
    ByteSource& source = whole && readable && !putBackFailed ? static_cast<ByteSource&>(inMemory) : *after;
    if (!recorder.Record(path, old, *after, source)) {
        // No file may stay changed without its record.
        after.reset();
        PutBack(path, old, recorder.Store(), report);
        stop = true;
        return ErrNoRecord;
    }
    return putBackFailed ? ErrCheckNotRestored : result;
}

namespace {

// A file of an undo, examined before any is written: what becomes of it,
// and the replace that puts it back when it can be.
struct TUndoFile {
    const FileEntry* entry = nullptr;
    TUndone undone = TUndone::Restored;
    std::unique_ptr<FileSource> current;
    UndoStep rebuilt = UndoStep::ReadFailed;
};

TUndone Examine(TUndoFile& undo, FileIdentities& identities, kes::CFolderNames& folders, kes::CHeldRetry& retry) {
    const FileEntry& file = *undo.entry;
    const TFilePath path(ToWide(file.path));
    const DWORD error = retry.Run([&]() -> DWORD {
        undo.current = FileSource::Open(path.Win32());
        return undo.current ? ERROR_SUCCESS : GetLastError();
    });
    FileSource* current = undo.current.get();
    if (!current) return kes::HeldByAnother(error) ? TUndone::Held : TUndone::Moved;
    // Already as it was before the run: an undo stopped half way put it back.
    FileEntry before = file;
    before.record.after = file.record.before;
    if (CheckAsLeft(before, *current, current->LastWriteTime()) == UndoStep::Ok) return TUndone::AlreadyBefore;
    switch (CheckAsLeft(file, *current, current->LastWriteTime())) {
        case UndoStep::Ok:
            // As the run left it, and the very file the run left, where it
            // left it: not a copy that has taken its place, nor the file
            // reached through a folder that has become a link. The file
            // itself may still come back.
            if ((file.record.identity &&
                 identities.Of(current->Handle(), path.Folder().Text()) != file.record.identity) ||
                !kes::ReachedWithoutLinks(current->Handle(), path, folders))
                return TUndone::Moved;
            break;
        case UndoStep::FileChanged: return TUndone::Changed;
        case UndoStep::JournalDamaged: return TUndone::Damaged;
        default: return TUndone::Failed;
    }
    return file.complete ? TUndone::Restored : TUndone::Damaged;
}

// How many files an undo puts back with one flush.
constexpr size_t kUndoGroup = 64;

}  // namespace

TUndoEnd UndoFiles(const JournalReader& journal, const JournalStore& store, TEngineReport& report,
                   const std::function<void(const TFilePath&, TUndone)>& left) {
    const std::vector<FileEntry>& files = journal.Files();
    std::unique_ptr<RunJournal> own = store.StartUndo(journal.Info());
    FileIdentities identities;
    // The undo's files together wait no longer than one file may.
    kes::CHeldRetry retry;
    bool remains = false;
    // Newest first: a file that the run wrote twice goes back through each
    // of its states in turn, and so its states are put back one group
    // apart: each group holds a file once.
    auto next = files.rbegin();
    while (next != files.rend()) {
        if (report.Closing()) return TUndoEnd::Stopped;
        // Reserved whole: a commit rebuilds from its file's entry in place.
        std::vector<TUndoFile> undos;
        undos.reserve(kUndoGroup);
        std::vector<TCommitFile> commits;
        std::vector<std::u16string> paths;
        kes::CFolderNames folders;
        for (; next != files.rend() && undos.size() < kUndoGroup; ++next) {
            if (std::find(paths.begin(), paths.end(), next->path) != paths.end()) break;
            paths.push_back(next->path);
            TUndoFile& undo = undos.emplace_back();
            undo.entry = &*next;
            undo.undone = Examine(undo, identities, folders, retry);
            if (undo.undone != TUndone::Restored) {
                undo.current.reset();
                continue;
            }
            if (!own) {
                undo.undone = TUndone::Failed;
                continue;
            }
            const FileRecord& record = next->record;
            TCommitFile& commit = commits.emplace_back();
            commit.Path = TFilePath(ToWide(next->path));
            commit.Seen = SeenOf(*undo.current);
            commit.Time = ToFileTime(record.before.time);
            commit.Token = kes::NewReplaceToken();
            commit.Write = [&undo, &journal](kes::CReplacement& replacement) {
                const std::function<bool(std::string_view)> put = [&](std::string_view bytes) {
                    return replacement.Write(bytes);
                };
                CPutSink sink(put);
                undo.rebuilt = journal.Rebuild(*undo.entry, *undo.current, sink);
                undo.current.reset();  // the replace must have the file to itself
                return undo.rebuilt == UndoStep::Ok;
            };
            own->Writer().AppendIntent({next->path, false, commit.Token, record.after, record.before});
        }
        // Each file is told in its order, whether it was written or not.
        size_t told = 0;
        const auto tell = [&](size_t upTo) {
            for (; told < upTo; ++told) {
                TUndoFile& undo = undos[told];
                const TFilePath path(ToWide(undo.entry->path));
                if (undo.undone != TUndone::Restored && undo.undone != TUndone::AlreadyBefore) {
                    left(path, undo.undone);
                    remains = remains || Remains(undo.undone);
                }
                if (report.StopRequested()) return false;
                report.Advanced(next == files.rend() && told + 1 == undos.size());
            }
            return true;
        };
        bool going = true;
        const auto each = [&](TCommitFile& commit) {
            // The undo's file whose commit this is: the next that needs one.
            while (going && undos[told].undone != TUndone::Restored) going = tell(told + 1);
            if (!going) return false;
            TUndoFile& undo = undos[told];
            if (undo.rebuilt == UndoStep::JournalDamaged) {
                undo.undone = TUndone::Damaged;
            } else if (commit.Result != kes::kWritten && commit.Result != kes::kBackupLeft) {
                undo.undone = TUndone::Failed;
            } else {
                // The attributes it had; the rest the system keeps to itself.
                const DWORD attributes = undo.entry->record.beforeAttributes & kSettableAttributes;
                if ((commit.Seen.dwFileAttributes & kSettableAttributes) != attributes)
                    SetFileAttributesW(commit.Path.Win32().c_str(), attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL);
            }
            return going = tell(told + 1);
        };
        if (!commits.empty() && own && !TGroupCommit(own->Writer(), report, identities, retry).Commit(commits, each)) {
            for (TUndoFile& undo : undos)
                if (undo.undone == TUndone::Restored) undo.undone = TUndone::Failed;
        }
        if (!going || !tell(undos.size())) return TUndoEnd::Stopped;
    }
    return remains ? TUndoEnd::Remains : TUndoEnd::Done;
}
