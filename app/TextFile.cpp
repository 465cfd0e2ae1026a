#include "TextFile.h"

#include <windows.h>

#include <stdexcept>

#include "Handles.h"
#include "kes_bat_texts.h"

std::string ToCrLfText(const std::string& bytes) {
    // CR and LF are never the second byte of a Shift_JIS character, so the
    // bytes can be looked at one by one.
    std::string text;
    text.reserve(bytes.size() + bytes.size() / 16);
    for (std::string::size_type i = 0; i < bytes.size() && bytes[i] != '\0'; ++i) {
        const char c = bytes[i];
        if (c == '\r' || c == '\n') {
            text += "\r\n";
            if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
        } else {
            text += c;
        }
    }
    return text;
}

std::string ReadCommentText(const std::string& path) {
    const std::string failed = KES_CANNOT_READ_TEXT + path;
    // Others may go on reading the file, but nobody may write it meanwhile.
    CFileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsOpen()) throw std::runtime_error(failed);
    LARGE_INTEGER size{};
    // A comment field holds far less than this; beyond it is no text file.
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > 64 * 1024 * 1024)
        throw std::runtime_error(failed);
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty() &&
        (!ReadFile(file.Get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr) ||
         read != bytes.size()))
        throw std::runtime_error(failed);
    return ToCrLfText(bytes);
}
