#include "ShiftJis.h"

#include <windows.h>

namespace kes {

constexpr UINT kShiftJis = 932;

std::optional<std::string> ShiftJisToUtf8(std::string_view text) {
    if (text.empty()) return std::string();
    const int length = static_cast<int>(text.size());
    const int wide = MultiByteToWideChar(kShiftJis, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    if (wide <= 0) return std::nullopt;
    std::wstring utf16(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(kShiftJis, MB_ERR_INVALID_CHARS, text.data(), length, utf16.data(), wide);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), wide, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return std::nullopt;
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), wide, utf8.data(), bytes, nullptr, nullptr);
    return utf8;
}

}  // namespace kes
