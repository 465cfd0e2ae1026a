#include "Id3v2.h"

namespace kes {

std::optional<uint32_t> Syncsafe(std::string_view s, size_t at) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) {
        if (Byte(s, at + i) & 0x80) return std::nullopt;
        value = value << 7 | Byte(s, at + i);
    }
    return value;
}

std::optional<Id3v2Header> ReadId3v2Header(std::string_view file) {
    if (!HasId3v2(file) || file.size() < kId3HeaderSize) return std::nullopt;
    const uint8_t version = Byte(file, 3), flags = Byte(file, 5);
    const std::optional<uint32_t> size = Syncsafe(file, 6);
    if (version < 2 || version > 4 || Byte(file, 4) == 0xFF || !size) return std::nullopt;
    const size_t footer = version == 4 && (flags & kId3Footer) ? kId3HeaderSize : 0;
    const size_t total = kId3HeaderSize + *size + footer;
    if (total > file.size()) return std::nullopt;
    return Id3v2Header{version, flags, *size, total};
}

}  // namespace kes
