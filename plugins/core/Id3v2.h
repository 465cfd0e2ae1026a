// The header of an ID3v2 tag, which MP3 files carry in front and some
// taggers put in front of FLAC files too.
#ifndef KESTRANE_PLUGINS_ID3V2_H
#define KESTRANE_PLUGINS_ID3V2_H

#include "Bytes.h"

namespace kes {

constexpr size_t kId3HeaderSize = 10;  // as is the footer, where there is one
constexpr uint8_t kId3Unsynchronised = 0x80, kId3Extended = 0x40, kId3Footer = 0x10;

struct Id3v2Header {
    uint8_t version;  // 2, 3 or 4
    uint8_t flags;
    size_t size;   // what the header counts: extended header, frames and padding
    size_t total;  // the whole tag: header, size and footer
};

inline bool HasId3v2(std::string_view file) { return HasAt(file, 0, "ID3"); }

// A 28-bit number in four bytes of seven bits each; nothing when a byte has
// its top bit set.
std::optional<uint32_t> Syncsafe(std::string_view s, size_t at);
template <class Out>
void PutSyncsafe(Out& out, uint32_t value) {
    for (int shift : {21, 14, 7, 0}) out.push_back(static_cast<char>(value >> shift & 0x7F));
}

// The header of the tag at the start of the file; nothing when there is
// none, or when its size is no syncsafe number or runs past the file.
std::optional<Id3v2Header> ReadId3v2Header(std::string_view file);

}  // namespace kes

#endif
