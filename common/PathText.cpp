#include "PathText.h"

#include <windows.h>

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

bool ExactName(const wchar_t* name, std::string& text) {
    // No best fit: a character the code page lacks becomes "?", never a
    // look-alike, so that the text cannot name another file.
    const int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name, -1, nullptr, 0, "?", nullptr);
    if (bytes <= 0) {
        text.clear();
        return false;
    }
    std::string converted(static_cast<size_t>(bytes), '\0');
    BOOL usedDefault = FALSE;
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name, -1, converted.data(), bytes, "?", &usedDefault);
    converted.resize(static_cast<size_t>(bytes) - 1);  // the NUL
    text = converted;
    // The text must lead back to exactly this name, and search for nothing
    // but itself.
    return !usedDefault && WidePath(converted) == name && converted.find_first_of("?*") == std::string::npos;
}
