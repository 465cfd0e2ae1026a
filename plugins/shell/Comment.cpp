#include "Comment.h"

#include <windows.h>

#include <cstdint>
#include <stdexcept>

#include "PathText.h"
#include "Text.h"

namespace kes {
namespace {

constexpr UINT kShiftJis = 932;

int Length(size_t size) {
    if (size > 0x7FFFFFFF) throw std::length_error("text too long to convert");
    return static_cast<int>(size);
}

std::optional<std::string> Utf8Of(std::wstring_view text) {
    std::string utf8;
    utf8.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        const bool high = c >= 0xD800 && c < 0xDC00;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00u);
        } else if ((c >= 0xD800 && c < 0xE000) || c == 0) {
            return std::nullopt;
        }
        PutUtf8(utf8, c);
    }
    return utf8;
}

// The bytes that lead back to exactly this text: no character the code
// page lacks became its default or a best-fit look-alike.
std::optional<std::string> ExactCodePage(std::wstring_view text) {
    std::string bytes;
    if (!ExactText(text, bytes, kShiftJis) || bytes.find('\0') != std::string::npos) return std::nullopt;
    return bytes;
}

// Every line break (CR LF, a lone CR or a lone LF) as CR LF.
std::wstring WithCrLf(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'\r' && text[i] != L'\n') {
            out += text[i];
            continue;
        }
        out += L"\r\n";
        if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ++i;
    }
    return out;
}

std::wstring Decoded(UINT codePage, const std::string& bytes) {
    const int length = Length(bytes.size());
    std::wstring text(bytes.size(), L'\0');
    text.resize(static_cast<size_t>(
        MultiByteToWideChar(codePage, 0, bytes.data(), length, text.data(), static_cast<int>(text.size()))));
    return text;
}

}  // namespace

Comment CommentFromCodePage(std::string_view bytes) {
    const std::optional<std::wstring> text = StrictWide(kShiftJis, bytes);
    return Comment{std::string(bytes), text ? Utf8Of(*text) : std::nullopt};
}

Comment CommentFromUtf16(std::wstring_view text) { return Comment{ExactCodePage(text), Utf8Of(text)}; }

std::wstring CommentToUtf16(const Comment& stored) {
    if (stored.utf8) return WithCrLf(Decoded(CP_UTF8, *stored.utf8));
    return WithCrLf(Decoded(kShiftJis, stored.codePage.value_or(std::string())));
}

}  // namespace kes
