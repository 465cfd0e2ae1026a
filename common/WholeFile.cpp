#include "WholeFile.h"

#include <algorithm>
#include <climits>

#include "Handles.h"

TReadResult ReadWholeFile(const std::wstring& win32, TFileContents& contents) {
    CFileHandle file(CreateFileW(win32.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsOpen()) return TReadResult::OpenOrReadFailed;
    // Not GetFileInformationByHandle: it asks the volume too, which costs
    // more than reading a small file under Wine.
    FILE_BASIC_INFO basic;
    LARGE_INTEGER size;
    if (!GetFileInformationByHandleEx(file.Get(), FileBasicInfo, &basic, sizeof basic) ||
        !GetFileSizeEx(file.Get(), &size))
        return TReadResult::OpenOrReadFailed;
    // 64 bits: a 32-bit size would be a large file's size modulo 4 GiB, and
    // the plug-in would write back a truncated copy.
    if (size.QuadPart > INT_MAX) return TReadResult::NoMemory;
    contents.Size = static_cast<DWORD>(size.QuadPart);
    contents.LastWrite = FILETIME{static_cast<DWORD>(basic.LastWriteTime.LowPart),
                                  static_cast<DWORD>(basic.LastWriteTime.HighPart)};
    contents.Attributes = basic.FileAttributes;
    contents.Data.reset(static_cast<BYTE*>(std::malloc(size_t{contents.Size} + 1)));
    if (!contents.Data) return TReadResult::NoMemory;
    DWORD read = 0;
    const BOOL ok = ReadFile(file.Get(), contents.Data.get(), contents.Size, &read, nullptr);
    // A short read would hand on bytes that were never in the file, and a
    // plug-in would write them back.
    return ok && read == contents.Size ? TReadResult::Read : TReadResult::OpenOrReadFailed;
}

bool WriteAll(HANDLE file, const void* data, size_t length) {
    constexpr size_t kMaxPiece = size_t{1} << 30;
    const auto* bytes = static_cast<const BYTE*>(data);
    while (length != 0) {
        const auto piece = static_cast<DWORD>(std::min(length, kMaxPiece));
        DWORD written = 0;
        if (!WriteFile(file, bytes, piece, &written, nullptr) || written != piece) return false;
        bytes += piece;
        length -= piece;
    }
    return true;
}
