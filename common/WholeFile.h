// A file read whole into memory, as the tool hands it to a plug-in, with
// what the file looked like when it was read; and a buffer written whole.
#ifndef KESTRANE_WHOLE_FILE_H
#define KESTRANE_WHOLE_FILE_H

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

struct TFileContents {
    // One byte more than Size, so that an empty file still has a valid
    // pointer. malloc rather than new[]: a buffer of INT_MAX + 1 bytes is
    // more than an array may have, but the process can hold it.
    std::unique_ptr<BYTE, decltype(&std::free)> Data{nullptr, &std::free};
    DWORD Size = 0;
    FILETIME LastWrite{};
    DWORD Attributes = 0;

    std::string_view View() const { return std::string_view(reinterpret_cast<const char*>(Data.get()), Size); }
};

// Sizes and file times, which Windows hands over in two 32-bit halves, as
// one number, and back.
inline uint64_t Join64(DWORD high, DWORD low) { return static_cast<uint64_t>(high) << 32 | low; }
inline uint64_t Join64(const FILETIME& time) { return Join64(time.dwHighDateTime, time.dwLowDateTime); }
inline FILETIME ToFileTime(uint64_t time) { return FILETIME{static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)}; }

enum class TReadResult { Read, OpenOrReadFailed, NoMemory };

// Reads the file at `win32` (a path in the form for the wide file
// functions) whole. Others may read the file meanwhile, but nobody may be
// writing it; the file is closed again before this returns. A file larger
// than a signed 32-bit size, which plug-ins may take it as, is NoMemory.
TReadResult ReadWholeFile(const std::wstring& win32, TFileContents& contents);

// Writes all `length` bytes at the handle's place, in pieces that one
// WriteFile takes; false when any piece is not written whole.
bool WriteAll(HANDLE file, const void* data, size_t length);

#endif
