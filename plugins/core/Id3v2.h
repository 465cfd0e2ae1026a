// The header of an ID3v2 tag, which MP3 files carry in front and some
// taggers put in front of FLAC files too; and its frames, read as the
// tag's readers read them.
#ifndef KESTRANE_PLUGINS_ID3V2_H
#define KESTRANE_PLUGINS_ID3V2_H

#include <memory>
#include <vector>

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

// A frame's header: v2.2 has three-letter ids, sizes of three bytes and no
// flags.
constexpr size_t Id3v2FrameHeaderSize(uint8_t version) { return version == 2 ? 6 : 10; }
constexpr size_t Id3v2FrameIdSize(uint8_t version) { return version == 2 ? 3 : 4; }

// Undoes unsynchronisation: each $FF $00 becomes $FF. Nothing where the
// bytes cannot have come out of it: an $FF before a byte of %111xxxxx,
// which the scheme never leaves, or as the last byte, where readers part
// ways on what was meant.
std::optional<std::string> Resynchronised(std::string_view bytes);

// One frame: where it stands in the tag's bytes, header included, its id,
// what follows its header, and its flags (none in v2.2).
struct Id3v2Frame {
    size_t begin, end;
    std::string_view id, data;
    uint16_t flags;
};

// A tag as its readers take it, in a form a rewrite can keep: without
// unsynchronisation, and in v2.4 with syncsafe frame sizes (which one
// widely used player wrote as plain integers). `header` is the file's,
// but for its flags, which lose the unsynchronisation flag; its size and
// total are those the tag has in the file. `bytes` is the whole tag in
// that form, the file's own bytes where they already are, else a copy
// kept alive by `copy`; the offsets below count in `bytes`.
struct Id3v2Tag {
    Id3v2Header header;
    std::string_view bytes;
    std::shared_ptr<const std::string> copy;
    size_t frames = kId3HeaderSize;  // the first frame, after any extended header
    std::vector<Id3v2Frame> list;
    size_t padding = kId3HeaderSize, end = kId3HeaderSize;  // the zeros after the frames
};

// The tag at the start of the file with its frames; nothing when a flag
// says the frames cannot be read (v2.2 compression, flags no version
// knows), when they do not line up to fill the tag up to padding of
// zeros, when unsynchronisation cannot be undone, when a footer flag finds
// no footer, or when v2.4 sizes line up both as syncsafe numbers and as
// plain integers, each in another way.
std::optional<Id3v2Tag> ReadId3v2Tag(std::string_view file);

}  // namespace kes

#endif
