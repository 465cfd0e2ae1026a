#include "FlacComment.h"

#include "Id3v2.h"
#include "Text.h"

namespace kes {
namespace {

constexpr std::string_view kMarker = "fLaC";
constexpr uint8_t kStreamInfo = 0, kPadding = 1, kVorbisComment = 4, kInvalid = 127;
constexpr uint8_t kLast = 0x80;
constexpr size_t kBlockHeaderSize = 4, kStreamInfoSize = 34, kMaxBlock = 0xFFFFFF;

struct Block {
    uint8_t type;
    std::string_view data;
    bool fresh = false;  // new bytes rather than a range of the input
};

struct Flac {
    size_t marker;  // where "fLaC" stands: after an ID3v2 tag, if any
    std::vector<Block> blocks;
    size_t audio;
};

// The audio frames start with a frame's sync code, so metadata whose
// last-block flag was lost or whose lengths are wrong does not pass for
// intact.
bool StartsFrame(std::string_view s, size_t at) {
    return at == s.size() || (s.size() - at >= 2 && Byte(s, at) == 0xFF && (Byte(s, at + 1) & 0xFE) == 0xF8);
}

std::optional<Flac> Parse(std::string_view s) {
    size_t at = 0;
    if (HasId3v2(s)) {
        const std::optional<Id3v2Header> tag = ReadId3v2Header(s);
        if (!tag) return std::nullopt;
        at = tag->total;
    }
    if (!HasAt(s, at, kMarker)) return std::nullopt;
    Flac flac{at, {}, 0};
    for (at += kMarker.size();;) {
        if (s.size() - at < kBlockHeaderSize) return std::nullopt;
        const uint8_t type = Byte(s, at) & ~kLast;
        const size_t length = Be24(s, at + 1);
        if (s.size() - at - kBlockHeaderSize < length || type == kInvalid) return std::nullopt;
        const bool first = flac.blocks.empty();
        if (first != (type == kStreamInfo) || (first && length != kStreamInfoSize)) return std::nullopt;
        flac.blocks.push_back({type, s.substr(at + kBlockHeaderSize, length)});
        const bool last = Byte(s, at) & kLast;
        at += kBlockHeaderSize + length;
        if (last) break;
    }
    if (!StartsFrame(s, at)) return std::nullopt;
    flac.audio = at;
    return flac;
}

const Block* Find(const Flac& flac, uint8_t type) {
    for (const Block& b : flac.blocks)
        if (b.type == type) return &b;
    return nullptr;
}

void PutBlock(Pieces& out, const Block& b, bool last) {
    out.push_back(static_cast<char>(b.type | (last ? kLast : 0)));
    PutBe24(out, b.data.size());
    if (b.fresh) {
        out.Add(b.data);
    } else {
        out.Keep(b.data);
    }
}

}  // namespace

Rewrite FlacSetComment(std::string_view file, std::string_view utf8) {
    const std::optional<std::string> text = UnicodeComment(utf8);
    if (!text) return std::nullopt;
    const std::optional<Flac> flac = Parse(file);
    if (!flac) return std::nullopt;

    // Each comment block anew in its place. Readers show the first, which
    // takes the comment; the COMMENT fields of any other go, or a reader
    // that gathers them all would still show an old comment. Without a
    // block, one goes right after STREAMINFO.
    std::vector<std::string> bodies;
    size_t oldSize = 0, newSize = 0;
    for (const Block& b : flac->blocks) {
        if (b.type != kVorbisComment) continue;
        const std::optional<VorbisFields> fields = ParseVorbisFields(b.data);
        if (!fields) return std::nullopt;
        std::optional<std::string> body = WithComment(*fields, bodies.empty() ? std::string_view(*text) : "");
        if (!body || body->size() > kMaxBlock) return Rewrite::CommentTooLong();
        oldSize += kBlockHeaderSize + b.data.size();
        newSize += kBlockHeaderSize + body->size();
        bodies.push_back(std::move(*body));
    }
    const bool added = bodies.empty() && !text->empty();
    if (added) {
        std::optional<std::string> body = WithComment(VorbisFields{}, *text);
        if (!body || body->size() > kMaxBlock) return Rewrite::CommentTooLong();
        newSize += kBlockHeaderSize + body->size();
        bodies.push_back(std::move(*body));
    }

    // A padding block takes up the change in size where it can, so that the
    // audio stays where it was.
    const Block* padding = Find(*flac, kPadding);
    std::string zeros;
    if (padding && oldSize != newSize && padding->data.size() + oldSize >= newSize &&
        padding->data.size() + oldSize - newSize <= kMaxBlock)
        zeros.assign(padding->data.size() + oldSize - newSize, '\0');
    else
        padding = nullptr;

    std::vector<Block> blocks;
    auto body = bodies.begin();
    for (const Block& b : flac->blocks) {
        if (&b == padding) {
            blocks.push_back({kPadding, zeros, true});
        } else if (b.type == kVorbisComment) {
            blocks.push_back({kVorbisComment, *body++, true});
        } else {
            blocks.push_back(b);
        }
        if (added && b.type == kStreamInfo) blocks.push_back({kVorbisComment, bodies.front(), true});
    }
    Pieces out;
    out.Keep(file.substr(0, flac->marker + kMarker.size()));
    for (size_t i = 0; i < blocks.size(); ++i) PutBlock(out, blocks[i], i + 1 == blocks.size());
    out.Keep(file.substr(flac->audio));
    return out;
}

std::optional<CommentAndRest> FlacRead(std::string_view file) {
    const std::optional<Flac> flac = Parse(file);
    if (!flac) return std::nullopt;
    CommentAndRest read;
    read.rest = file.substr(0, flac->marker);
    for (const Block& b : flac->blocks) {
        if (b.type == kPadding) continue;
        if (b.type != kVorbisComment) {
            read.rest += static_cast<char>(b.type);
            read.rest.append(b.data);
            continue;
        }
        const std::optional<VorbisFields> fields = ParseVorbisFields(b.data);
        if (!fields) return std::nullopt;
        // What a write replaces: the COMMENT fields of every comment block.
        const std::string values = CommentValues(*fields);
        if (!read.comment.empty() && !values.empty()) read.comment += '\n';
        read.comment += values;
        // A block that holds nothing but comments counts as none: the
        // setter adds one, with an empty vendor, to a file without.
        const std::string others = OtherFields(*fields);
        if (others != std::string(4, '\0')) read.rest += static_cast<char>(b.type) + others;
    }
    read.rest.append(file.substr(flac->audio));
    return read;
}

}  // namespace kes
