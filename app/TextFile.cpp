#include "TextFile.h"

#include <windows.h>

#include <algorithm>

#include "Application.h"
#include "Handles.h"
#include "PathText.h"
#include "kes_bat_texts.h"

namespace {

// UTF-16 with every surrogate in a pair.
std::optional<std::wstring> FromUtf16(std::string_view bytes, bool bigEndian) {
    if (bytes.size() % 2 != 0) return std::nullopt;
    std::wstring text(bytes.size() / 2, L'\0');
    for (size_t i = 0; i < text.size(); ++i) {
        const auto hi = static_cast<unsigned char>(bytes[2 * i + (bigEndian ? 0 : 1)]);
        const auto lo = static_cast<unsigned char>(bytes[2 * i + (bigEndian ? 1 : 0)]);
        text[i] = static_cast<wchar_t>(hi << 8 | lo);
    }
    for (size_t i = 0; i < text.size(); ++i) {
        if (IS_HIGH_SURROGATE(text[i]) && i + 1 < text.size() && IS_LOW_SURROGATE(text[i + 1])) {
            ++i;
        } else if (IS_HIGH_SURROGATE(text[i]) || IS_LOW_SURROGATE(text[i])) {
            return std::nullopt;
        }
    }
    return text;
}

bool StartsWith(std::string_view bytes, std::string_view mark) { return bytes.substr(0, mark.size()) == mark; }

}  // namespace

std::wstring ToCrLfText(std::wstring_view text) {
    std::wstring out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size() && text[i] != L'\0'; ++i) {
        const wchar_t c = text[i];
        if (c == L'\r' || c == L'\n') {
            out += L"\r\n";
            if (c == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ++i;
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::wstring> DecodeText(const std::string& bytes) {
    const std::string_view all(bytes);
    if (StartsWith(all, "\xEF\xBB\xBF")) return StrictWide(CP_UTF8, all.substr(3));
    if (StartsWith(all, "\xFF\xFE")) return FromUtf16(all.substr(2), false);
    if (StartsWith(all, "\xFE\xFF")) return FromUtf16(all.substr(2), true);
    // Pure ASCII reads the same either way; Shift_JIS text is almost never
    // valid UTF-8, and UTF-8 text with Japanese in it is never valid
    // Shift_JIS without a byte above 0x7F being read wrongly.
    const bool ascii =
        std::all_of(all.begin(), all.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (!ascii) {
        if (std::optional<std::wstring> utf8 = StrictWide(CP_UTF8, all)) return utf8;
    }
    return StrictWide(932, all);
}

std::optional<std::wstring> ReadCommentText(const TFilePath& path) {
    const std::wstring failed = WidePath(KES_CANNOT_READ_TEXT) + path.Text();
    // Others may go on reading the file, but nobody may write it meanwhile.
    CFileHandle file(CreateFileW(path.Win32().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsOpen()) throw TUserError(failed);
    LARGE_INTEGER size{};
    // A comment field holds far less than this; beyond it is no text file.
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > 64 * 1024 * 1024) throw TUserError(failed);
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty() &&
        (!ReadFile(file.Get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr) ||
         read != bytes.size()))
        throw TUserError(failed);
    const std::optional<std::wstring> text = DecodeText(bytes);
    if (!text) return std::nullopt;
    return ToCrLfText(*text);
}
