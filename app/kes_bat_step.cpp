#include "kes_bat_step.h"

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

// Puts the contents the tool read back into the file, with the time it
// had, through the replace the plug-ins use.
bool PutBack(const TFilePath& path, const TFileContents& old) {
    const std::wstring win32 = path.Win32();
    WIN32_FILE_ATTRIBUTE_DATA seen;
    if (!GetFileAttributesExW(win32.c_str(), GetFileExInfoStandard, &seen)) return false;
    const kes::WriteResult result = kes::ReplaceContents(
        path, seen, [&](const auto& put) { return put(old.View()); }, &old.LastWrite);
    return result == kes::kWritten || result == kes::kBackupLeft;
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

bool TRunRecorder::Record(const TFilePath& path, const TFileContents& old, const FileSource& after,
                          ByteSource& contents) {
    if (failed_) return false;
    if (!journal_) journal_ = store_.StartRun(info_);
    const std::wstring& text = path.Text();
    const std::wstring full = text.compare(0, root_.size(), root_) == 0 ? absoluteRoot_ + text.substr(root_.size())
                                                                      : text;
    WrittenFile file{ToU16(full), Join64(old.LastWrite), old.Attributes, after.LastWriteTime(),
                     identities_.Of(after.Handle(), path.Folder().Text())};
    failed_ = !journal_ || !journal_->Append(file, old.Data.get(), old.Size, contents);
    return !failed_;
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
                     bool& stop) {
    TFileContents old;
    const int result = KesBat.WriteOneFile(window, path, comment, old);
    // Not handed to the plug-in at all.
    if (result == ErrOpenRead || result == ErrNoMemory || result == ErrNotInCodePage || result == ErrNameNotPlain)
        return result;
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
            if (PutBack(path, old)) return ErrCheckRestored;
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
        PutBack(path, old);
        stop = true;
        return ErrNoRecord;
    }
    return putBackFailed ? ErrCheckNotRestored : result;
}

TUndone TFileStep::Undo(const FileEntry& file, const JournalReader& journal, FileIdentities& identities) {
    const TFilePath path(ToWide(file.path));
    const std::wstring win32 = path.Win32();
    std::unique_ptr<FileSource> current = FileSource::Open(win32);
    if (!current) {
        const DWORD error = GetLastError();
        return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? TUndone::Held : TUndone::Moved;
    }
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
                !kes::ReachedWithoutLinks(current->Handle(), path))
                return TUndone::Moved;
            break;
        case UndoStep::FileChanged: return TUndone::Changed;
        case UndoStep::JournalDamaged: return TUndone::Damaged;
        default: return TUndone::Failed;
    }
    if (!file.complete) return TUndone::Damaged;

    WIN32_FILE_ATTRIBUTE_DATA seen;
    if (!GetFileAttributesExW(win32.c_str(), GetFileExInfoStandard, &seen)) return TUndone::Failed;
    const FILETIME beforeTime = ToFileTime(file.record.before.time);
    UndoStep rebuilt = UndoStep::ReadFailed;
    const kes::WriteResult result = kes::ReplaceContents(
        path, seen,
        [&](const std::function<bool(std::string_view)>& put) {
            CPutSink sink(put);
            rebuilt = journal.Rebuild(file, *current, sink);
            current.reset();  // the replace must have the file to itself
            return rebuilt == UndoStep::Ok;
        },
        &beforeTime);
    if (rebuilt == UndoStep::JournalDamaged) return TUndone::Damaged;
    if (rebuilt != UndoStep::Ok || (result != kes::kWritten && result != kes::kBackupLeft)) return TUndone::Failed;
    const DWORD attributes = file.record.beforeAttributes & kSettableAttributes;
    if ((seen.dwFileAttributes & kSettableAttributes) != attributes)
        SetFileAttributesW(win32.c_str(), attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL);
    return TUndone::Restored;
}
