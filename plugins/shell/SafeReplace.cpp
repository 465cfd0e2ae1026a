#include "SafeReplace.h"

#include <algorithm>
#include <string>

#include "Handles.h"
#include "PathText.h"

namespace kes {
namespace {

// A temporary file that is deleted again unless it was moved into place.
class CTempFile {
public:
    explicit CTempFile(const std::string& folder) {
        char path[MAX_PATH];
        if (GetTempFileNameA(folder.c_str(), "kes", 0, path) != 0) path_ = path;
    }
    CTempFile(const CTempFile&) = delete;
    CTempFile& operator=(const CTempFile&) = delete;
    ~CTempFile() {
        if (!path_.empty()) DeleteFileA(path_.c_str());
    }

    bool Created() const { return !path_.empty(); }
    const char* Path() const { return path_.c_str(); }
    // Called once the file has become the target: nothing left to delete.
    void Release() { path_.clear(); }

private:
    std::string path_;
};

// The folder of the target, where the temporary file goes so that the
// final rename stays on one volume. Found character by character: in a name
// such as "表.zip" the byte 0x5C is part of a character, not a delimiter.
std::string FolderOf(const char* path) {
    const std::string folder = ExtractFilePath(path);
    return folder.empty() ? std::string(".") : folder;
}

// Renaming over a file that another program holds open would, on some
// systems, pull the file from under that program; and a program that holds
// it may be about to write it. Either way the safe answer is to leave it.
bool HeldElsewhere(const char* path) {
    CFileHandle h(CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    return !h.IsOpen();
}

bool WriteAll(HANDLE h, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 30));
        DWORD written = 0;
        if (!WriteFile(h, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
        bytes.remove_prefix(written);
    }
    return true;
}

// Fills the temporary file and gives it the target's times, so that the
// rename carries them over; flushed so that the rename never exposes a file
// whose data is not yet on disk.
bool FillTemp(const CTempFile& temp, const Pieces& contents, const WIN32_FILE_ATTRIBUTE_DATA& target,
              bool keepModifiedTime) {
    CFileHandle h(CreateFileA(temp.Path(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.IsOpen() || !contents.ForEach([&](std::string_view bytes) { return WriteAll(h.Get(), bytes); }))
        return false;
    const FILETIME* modified = keepModifiedTime ? &target.ftLastWriteTime : nullptr;
    if (!SetFileTime(h.Get(), &target.ftCreationTime, nullptr, modified)) return false;
    return FlushFileBuffers(h.Get()) != FALSE;
}

}  // namespace

WriteResult ReplaceContents(const char* path, const Pieces& contents, bool keepModifiedTime) {
    WIN32_FILE_ATTRIBUTE_DATA target;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &target)) return kFileFailed;
    if (target.dwFileAttributes & FILE_ATTRIBUTE_READONLY) return kReadOnly;
    if (target.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return kFileFailed;
    if (HeldElsewhere(path)) return kFileFailed;

    CTempFile temp(FolderOf(path));
    if (!temp.Created() || !FillTemp(temp, contents, target, keepModifiedTime)) return kFileFailed;
    if (!SetFileAttributesA(temp.Path(), target.dwFileAttributes)) return kFileFailed;
    if (!MoveFileExA(temp.Path(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return kFileFailed;
    temp.Release();
    return kWritten;
}

}  // namespace kes
