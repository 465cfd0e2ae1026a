// One small owning type per kind of Windows handle, so that every handle has
// exactly one owner and every path out of a function closes it.
#ifndef KESTRANE_HANDLES_H
#define KESTRANE_HANDLES_H

#include <windows.h>
#include <shlwapi.h>

#include <string>

#include <utility>

// A kernel file handle (CreateFileA).
class CFileHandle {
public:
    CFileHandle() = default;
    explicit CFileHandle(HANDLE h) : h_(h) {}
    CFileHandle(const CFileHandle&) = delete;
    CFileHandle& operator=(const CFileHandle&) = delete;
    CFileHandle(CFileHandle&& o) noexcept : h_(std::exchange(o.h_, INVALID_HANDLE_VALUE)) {}
    CFileHandle& operator=(CFileHandle&& o) noexcept {
        if (this != &o) {
            Close();
            h_ = std::exchange(o.h_, INVALID_HANDLE_VALUE);
        }
        return *this;
    }
    ~CFileHandle() { Close(); }

    bool IsOpen() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HANDLE Get() const { return h_; }
    void Close() {
        if (IsOpen()) CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

// A directory search for one pattern in one folder. Names are read as
// UTF-16, since the code page's form of a name may be a look-alike of
// another name (see PathText.h). The system matches a pattern against a
// file's 8.3 short name too, so "*.jpg" finds "photo.jpg_original" through
// "PHOTO~1.JPG": only entries whose long name matches are delivered. The
// first entry is read on opening; Next() moves to the following one.
class CFindFile {
public:
    // folder is in the form for the file functions and ends in '\'.
    CFindFile(const std::wstring& folder, const std::wstring& pattern)
        : pattern_(pattern), h_(FindFirstFileW((folder + pattern).c_str(), &data_)) {
        error_ = Found() ? ERROR_SUCCESS : GetLastError();
        if (Found() && !LongNameMatches()) Next();
    }
    CFindFile(const CFindFile&) = delete;
    CFindFile& operator=(const CFindFile&) = delete;
    ~CFindFile() {
        if (h_ != INVALID_HANDLE_VALUE) FindClose(h_);
    }

    bool Found() const { return h_ != INVALID_HANDLE_VALUE && error_ == ERROR_SUCCESS; }
    // Why nothing was found: ERROR_FILE_NOT_FOUND when nothing matches.
    DWORD Error() const { return error_; }
    bool Next() {
        while (FindNextFileW(h_, &data_)) {
            if (LongNameMatches()) return true;
        }
        // An entry matched by its short name alone was all there was.
        if (error_ == ERROR_SUCCESS && !delivered_) error_ = ERROR_FILE_NOT_FOUND;
        return false;
    }
    const WIN32_FIND_DATAW& Data() const { return data_; }

private:
    bool LongNameMatches() {
        const bool matches = PathMatchSpecW(data_.cFileName, pattern_.c_str()) != FALSE;
        delivered_ = delivered_ || matches;
        return matches;
    }

    std::wstring pattern_;
    WIN32_FIND_DATAW data_{};
    HANDLE h_;
    DWORD error_ = ERROR_SUCCESS;
    bool delivered_ = false;
};

// Attribute bit of a volume label entry; windows.h has no name for it.
constexpr DWORD kFileAttributeVolumeLabel = 0x8;

#endif
