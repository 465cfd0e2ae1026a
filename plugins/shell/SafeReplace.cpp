#include "SafeReplace.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "Handles.h"
#include "PathText.h"

namespace kes {
namespace {

// The target's attributes that a new file takes on when it is created
// (read-only files never get this far).
constexpr DWORD kCreatableAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                       FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_OFFLINE |
                                       FILE_ATTRIBUTE_TEMPORARY;

// The folder of the target, where the temporary file goes, since ReplaceFileA
// needs both on one volume; and the name in it. Both are found character by
// character: in a name such as "表.zip" the byte 0x5C is part of a
// character, not a delimiter.
std::string FolderOf(const std::string& path) {
    const std::string folder = ExtractFilePath(path);
    return folder.empty() ? std::string(".\\") : folder;
}
std::string NameOf(const std::string& path) { return path.substr(ExtractFilePath(path).size()); }

uint64_t Quad(DWORD high, DWORD low) { return static_cast<uint64_t>(high) << 32 | low; }

// The new contents' file beside the target, created once and already with
// the target's attributes, under a name of the plug-in's own making
// (GetTempFileNameA would create it, and it would have to be opened again).
// With it goes the name ReplaceFileA gives the original until the plug-in
// deletes it. Both names share a number, and a backup is only ever left
// behind together with its temporary file, so a temporary file created
// anew means that its backup name holds nothing of an earlier run. The
// temporary file is deleted again unless it is kept.
class CTempFile {
public:
    CTempFile(const std::string& folder, DWORD attributes) {
        static DWORD next = GetTickCount() ^ GetCurrentProcessId() << 16;
        for (int tries = 0; tries < 100; ++tries) {
            char name[16];
            std::snprintf(name, sizeof name, "kes%08lX", static_cast<unsigned long>(next++));
            const std::string stem = folder + name;
            handle_ = CFileHandle(CreateFileA((stem + ".tmp").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                              attributes, nullptr));
            if (handle_.IsOpen()) {
                path_ = stem + ".tmp";
                backup_ = stem + ".bak";
                return;
            }
            if (GetLastError() != ERROR_FILE_EXISTS) return;
        }
    }
    CTempFile(const CTempFile&) = delete;
    CTempFile& operator=(const CTempFile&) = delete;
    ~CTempFile() {
        handle_.Close();
        if (!path_.empty()) DeleteFileA(path_.c_str());
    }

    bool Created() const { return !path_.empty(); }
    HANDLE Handle() const { return handle_.Get(); }
    void Close() { handle_.Close(); }
    const char* Path() const { return path_.c_str(); }
    const char* Backup() const { return backup_.c_str(); }
    // Called once the file has become the target, or must stay: nothing
    // left to delete.
    void Keep() { path_.clear(); }

private:
    CFileHandle handle_;
    std::string path_, backup_;
};

bool WriteAll(HANDLE h, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 30));
        DWORD written = 0;
        if (!WriteFile(h, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
        bytes.remove_prefix(written);
    }
    return true;
}

// Fills the temporary file. ReplaceFileA gives the result the replacement's
// modification time (and under Wine its creation time too, which Wine
// cannot keep apart from it; Windows keeps the original's), so the kept
// time is set here. Flushed so that the replace never exposes a file whose
// data is not yet on disk.
bool Fill(const CTempFile& temp, const Pieces& contents, const FILETIME* modified) {
    return contents.ForEach([&](std::string_view bytes) { return WriteAll(temp.Handle(), bytes); }) &&
           (!modified || SetFileTime(temp.Handle(), nullptr, nullptr, modified)) &&
           FlushFileBuffers(temp.Handle());
}

// Under Wine a symbolic link shows no reparse point, but a handle opened
// through it is named after the file it leads to.
bool NamedAsOpened(HANDLE h, const char* path) {
    char opened[2 * MAX_PATH];
    const DWORD n = GetFinalPathNameByHandleA(h, opened, sizeof opened, FILE_NAME_NORMALIZED);
    return n > 0 && n < sizeof opened && lstrcmpiA(NameOf(opened).c_str(), NameOf(path).c_str()) == 0;
}

// Whether the target is still the file the plug-in was handed, alone, just
// before the replace. It is opened without sharing, so that a program that
// holds it open in any way makes this fail: ReplaceFileA alone would
// replace a file held with FILE_SHARE_DELETE, from under that program.
WriteResult StillAsSeen(const char* path, const WIN32_FILE_ATTRIBUTE_DATA& seen) {
    CFileHandle h(CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    FILE_STANDARD_INFO standard;
    FILE_BASIC_INFO basic;
    if (!h.IsOpen() || !GetFileInformationByHandleEx(h.Get(), FileStandardInfo, &standard, sizeof standard) ||
        !GetFileInformationByHandleEx(h.Get(), FileBasicInfo, &basic, sizeof basic))
        return kFileFailed;
    // The replace would give one name new contents and leave the file's
    // other names with the old; a link would become a plain file.
    if (standard.NumberOfLinks != 1 || (basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !NamedAsOpened(h.Get(), path))
        return kFileFailed;
    const uint64_t seenSize = Quad(seen.nFileSizeHigh, seen.nFileSizeLow);
    const uint64_t seenTime = Quad(seen.ftLastWriteTime.dwHighDateTime, seen.ftLastWriteTime.dwLowDateTime);
    if (static_cast<uint64_t>(standard.EndOfFile.QuadPart) != seenSize ||
        static_cast<uint64_t>(basic.LastWriteTime.QuadPart) != seenTime)
        return kChangedElsewhere;
    return kWritten;
}

}  // namespace

WriteResult CheckTarget(const char* path, size_t handedSize, WIN32_FILE_ATTRIBUTE_DATA& seen) {
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &seen)) return kFileFailed;
    if (seen.dwFileAttributes & FILE_ATTRIBUTE_READONLY) return kReadOnly;
    if (seen.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) return kFileFailed;
    if (Quad(seen.nFileSizeHigh, seen.nFileSizeLow) != handedSize) return kChangedElsewhere;
    return kWritten;
}

WriteResult ReplaceContents(const char* path, const WIN32_FILE_ATTRIBUTE_DATA& seen, const Pieces& contents,
                            bool keepModifiedTime) {
    const DWORD attributes = seen.dwFileAttributes & kCreatableAttributes;
    CTempFile temp(FolderOf(path), attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL);
    if (!temp.Created() || !Fill(temp, contents, keepModifiedTime ? &seen.ftLastWriteTime : nullptr))
        return kFileFailed;
    temp.Close();
    const WriteResult state = StillAsSeen(path, seen);
    if (state != kWritten) return state;

    // With a backup name, no failure of ReplaceFileA loses the original:
    // it keeps its name, or after ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 it has
    // the backup name and is moved back. Without one, a failure may come
    // after the original was already removed.
    if (ReplaceFileA(path, temp.Path(), temp.Backup(), 0, nullptr, nullptr)) {
        temp.Keep();
        // The original, now under the backup name. Should another program
        // have opened it in this instant, it stays behind; the target is
        // written all the same.
        DeleteFileA(temp.Backup());
        return kWritten;
    }
    if (GetLastError() == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 && !MoveFileExA(temp.Backup(), path, 0)) {
        // The original lives on under the backup name only: its temporary
        // file stays with it, so that neither name is taken again.
        temp.Keep();
    }
    return kFileFailed;
}

}  // namespace kes
