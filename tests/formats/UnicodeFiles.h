// Files and folders of any name and path length for the tests under Wine,
// which the code page helpers of TestSupport cannot reach.
#ifndef KESTRANE_TEST_UNICODE_FILES_H
#define KESTRANE_TEST_UNICODE_FILES_H

#include <gtest/gtest.h>

#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "FilePath.h"
#include "TestSupport.h"

inline std::wstring Wide(const std::string& ansi) { return TFilePath::FromAnsi(ansi).Text(); }

// Paths go to the system in the form TFilePath gives.
inline void PutFile(const std::wstring& path, const std::string& bytes) {
    HANDLE h = CreateFileW(TFilePath(path).Win32().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
    ASSERT_EQ(written, bytes.size());
}

inline std::string GetFile(const std::wstring& path) {
    HANDLE h = CreateFileW(TFilePath(path).Win32().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "(cannot open)";
    std::string bytes(GetFileSize(h, nullptr), '\0');
    DWORD read = 0;
    ReadFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    CloseHandle(h);
    bytes.resize(read);
    return bytes;
}

// The names in a folder (ending in '\'), without "." and "..".
inline std::vector<std::wstring> NamesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW d;
    HANDLE h = FindFirstFileW(TFilePath(folder + L"*").Win32().c_str(), &d);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        if (std::wcscmp(d.cFileName, L".") != 0 && std::wcscmp(d.cFileName, L"..") != 0) names.push_back(d.cFileName);
    } while (FindNextFileW(h, &d));
    FindClose(h);
    return names;
}

// A fresh folder that takes its contents of any name with it.
class CUnicodeDir {
public:
    ~CUnicodeDir() { Empty(path_); }
    const std::wstring& Path() const { return path_; }
    // Path() + relative, with each folder on the way made.
    std::wstring Make(const std::wstring& relative) const {
        for (size_t at = relative.find(L'\\'); at != std::wstring::npos; at = relative.find(L'\\', at + 1))
            CreateDirectoryW(TFilePath(path_ + relative.substr(0, at)).Win32().c_str(), nullptr);
        return path_ + relative;
    }

private:
    static void Empty(const std::wstring& folder) {
        for (const std::wstring& name : NamesIn(folder)) {
            const std::wstring path = TFilePath(folder + name).Win32();
            if (GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY) {
                Empty(folder + name + L"\\");
                RemoveDirectoryW(path.c_str());
            } else {
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path.c_str());
            }
        }
    }
    kes_test::TempDir dir_;  // removes the folder itself once it is empty
    std::wstring path_ = Wide(dir_.Path());
};

#endif
