// One small owning type per kind of Windows handle, so that every handle has
// exactly one owner and every path out of a function closes it.
#ifndef KESTRANE_HANDLES_H
#define KESTRANE_HANDLES_H

#include <windows.h>

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

// A directory search. Names are read as UTF-16, since the code page's form
// of a name may be a look-alike of another name (see PathText.h). The
// first entry is read on opening; Next() moves to the following one.
class CFindFile {
public:
    explicit CFindFile(const wchar_t* pattern)
        : h_(FindFirstFileW(pattern, &data_)), error_(Found() ? ERROR_SUCCESS : GetLastError()) {}
    CFindFile(const CFindFile&) = delete;
    CFindFile& operator=(const CFindFile&) = delete;
    ~CFindFile() {
        if (Found()) FindClose(h_);
    }

    bool Found() const { return h_ != INVALID_HANDLE_VALUE; }
    // Why nothing was found: ERROR_FILE_NOT_FOUND when nothing matches.
    DWORD Error() const { return error_; }
    bool Next() { return FindNextFileW(h_, &data_) != FALSE; }
    const WIN32_FIND_DATAW& Data() const { return data_; }

private:
    WIN32_FIND_DATAW data_{};
    HANDLE h_;
    DWORD error_;
};

// Attribute bit of a volume label entry; windows.h has no name for it.
constexpr DWORD kFileAttributeVolumeLabel = 0x8;

#endif
