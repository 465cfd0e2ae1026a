#include "Text.h"

#include "Bytes.h"

namespace kes {
namespace {

// How many continuation bytes follow a UTF-8 lead byte; 4 for a byte that
// cannot lead.
size_t Utf8Extra(uint8_t lead) {
    if (lead < 0x80) return 0;
    if (lead >= 0xC2 && lead < 0xE0) return 1;
    if (lead >= 0xE0 && lead < 0xF0) return 2;
    if (lead >= 0xF0 && lead < 0xF5) return 3;
    return 4;
}

}  // namespace

std::optional<std::vector<uint32_t>> DecodeUtf8(std::string_view s) {
    std::vector<uint32_t> out;
    for (size_t i = 0; i < s.size();) {
        const uint8_t lead = Byte(s, i);
        const size_t extra = Utf8Extra(lead);
        if (extra == 4 || s.size() - i <= extra) return std::nullopt;
        uint32_t cp = extra == 0 ? lead : lead & (0x3F >> extra);
        for (size_t k = 1; k <= extra; ++k) {
            const uint8_t next = Byte(s, i + k);
            if ((next & 0xC0) != 0x80) return std::nullopt;
            cp = cp << 6 | (next & 0x3F);
        }
        static const uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kLeast[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
        out.push_back(cp);
        i += extra + 1;
    }
    return out;
}

void PutUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | cp >> 18);
        out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void PutUtf16Le(std::string& out, uint32_t cp) {
    if (cp >= 0x10000) {
        PutUtf16Le(out, 0xD800 | (cp - 0x10000) >> 10);
        cp = 0xDC00 | (cp & 0x3FF);
    }
    PutLe16(out, static_cast<uint16_t>(cp));
}

std::string Utf16ToUtf8(std::string_view raw, bool big) {
    const auto unit = [&](size_t at) -> uint32_t { return big ? Be16(raw, at) : Le16(raw, at); };
    std::string out;
    for (size_t at = 0; at + 1 < raw.size(); at += 2) {
        uint32_t cp = unit(at);
        if (cp >= 0xD800 && cp < 0xDC00 && at + 3 < raw.size() && unit(at + 2) >= 0xDC00 && unit(at + 2) < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (unit(at + 2) - 0xDC00);
            at += 2;
        } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD;
        }
        PutUtf8(out, cp);
    }
    return out;
}

std::string ToLineFeeds(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\r') {
            out += s[i];
        } else {
            out += '\n';
            if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
        }
    }
    return out;
}

std::optional<std::string> UnicodeComment(std::string_view utf8) {
    std::string text = ToLineFeeds(utf8);
    if (!DecodeUtf8(text) || text.find('\0') != std::string::npos) return std::nullopt;
    return text;
}

}  // namespace kes
