#include "PathText.h"

#include <windows.h>

#include <climits>

namespace {

// Calls f(offset, byte) for each single-byte character; the bytes of a
// double-byte character are passed over together.
template <class F>
void ForEachSingleByteChar(const std::string& text, F f) {
    for (std::string::size_type i = 0; i < text.size(); ++i) {
        const BYTE c = static_cast<BYTE>(text[i]);
        if (IsDBCSLeadByte(c) && i + 1 < text.size())
            ++i;
        else
            f(i, c);
    }
}

}  // namespace

bool EndsWithPathDelimiter(const std::string& path) {
    bool last = false;
    std::string::size_type lastAt = std::string::npos;
    ForEachSingleByteChar(path, [&](std::string::size_type at, BYTE c) {
        lastAt = at;
        last = c == '\\';
    });
    return last && lastAt + 1 == path.size();
}

std::string IncludeTrailingPathDelimiter(const std::string& path) {
    return EndsWithPathDelimiter(path) ? path : path + '\\';
}

std::string ExtractFilePath(const std::string& path) {
    std::string::size_type end = 0;
    ForEachSingleByteChar(path, [&](std::string::size_type at, BYTE c) {
        if (c == '\\' || c == ':') end = at + 1;
    });
    return path.substr(0, end);
}

std::wstring WidePath(const std::string& path) {
    const int length = static_cast<int>(path.size());
    const int wide = MultiByteToWideChar(CP_ACP, 0, path.data(), length, nullptr, 0);
    std::wstring out(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(CP_ACP, 0, path.data(), length, out.data(), wide);
    return out;
}

bool ExactText(std::wstring_view wide, std::string& text, UINT codePage) {
    text.clear();
    if (wide.empty()) return true;
    if (wide.size() > INT_MAX) return false;
    // No best fit: a character the code page lacks becomes "?", never a
    // look-alike, and the used-default flag tells.
    const int length = static_cast<int>(wide.size());
    const int bytes =
        WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), length, nullptr, 0, "?", nullptr);
    if (bytes <= 0) return false;
    text.resize(static_cast<size_t>(bytes));
    BOOL usedDefault = FALSE;
    WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), length, text.data(), bytes, "?", &usedDefault);
    // And the text must lead back to exactly these characters. This is for
    // Windows, whose best fit may map a character in spite of the flag
    // without reporting the default ("〜" U+301C as the bytes of "～"
    // U+FF5E). Wine already gives "?" for it; there the check only refuses
    // U+F8F0 to U+F8F3, whose single bytes (A0, FD to FF) its strict
    // decoding does not take back.
    return !usedDefault && StrictWide(codePage, text) == std::wstring(wide);
}

std::optional<std::wstring> StrictWide(UINT codePage, std::string_view bytes) {
    if (bytes.empty()) return std::wstring();
    if (bytes.size() > INT_MAX) return std::nullopt;
    const int length = static_cast<int>(bytes.size());
    const int wide = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), length, nullptr, 0);
    if (wide <= 0) return std::nullopt;
    std::wstring text(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), length, text.data(), wide);
    return text;
}

bool ExactName(const wchar_t* name, std::string& text) {
    // A name must also search for nothing but itself.
    return ExactText(name, text) && text.find_first_of("?*") == std::string::npos;
}
