#include "GifComment.h"

#include <vector>

namespace kes {
namespace {

constexpr size_t kHeaderSize = 13;  // signature, version, screen descriptor
constexpr uint8_t kExtension = 0x21, kImage = 0x2C, kTrailer = 0x3B;
constexpr uint8_t kCommentLabel = 0xFE, kGraphicControl = 0xF9, kPlainText = 0x01;
constexpr size_t kMaxSubBlock = 255;

// One block after the header: an extension or an image with all its
// sub-blocks, or the trailer.
struct Block {
    size_t begin, end;
    uint8_t kind;   // kExtension, kImage or kTrailer
    uint8_t label;  // an extension's label, else 0
};

size_t ColorTableSize(uint8_t flags) { return flags & 0x80 ? 3u << ((flags & 7) + 1) : 0; }

// Skips a chain of sub-blocks up to and including its empty terminator.
std::optional<size_t> SkipSubBlocks(std::string_view s, size_t at) {
    while (at < s.size()) {
        const size_t length = Byte(s, at);
        if (length == 0) return at + 1;
        at += 1 + length;
    }
    return std::nullopt;
}

std::optional<Block> ReadBlock(std::string_view s, size_t at) {
    if (at >= s.size()) return std::nullopt;
    const uint8_t kind = Byte(s, at);
    if (kind == kTrailer) return Block{at, at + 1, kind, 0};
    if (kind == kExtension) {
        if (s.size() - at < 2) return std::nullopt;
        const std::optional<size_t> end = SkipSubBlocks(s, at + 2);
        if (!end) return std::nullopt;
        return Block{at, *end, kind, Byte(s, at + 1)};
    }
    if (kind != kImage || s.size() - at < 10) return std::nullopt;
    const size_t data = at + 10 + ColorTableSize(Byte(s, at + 9)) + 1;  // +1: LZW code size
    if (data > s.size()) return std::nullopt;
    const std::optional<size_t> end = SkipSubBlocks(s, data);
    if (!end) return std::nullopt;
    return Block{at, *end, kind, 0};
}

// The blocks up to and including the trailer; bytes after it are left to
// the caller.
std::optional<std::vector<Block>> Parse(std::string_view s) {
    if (!(HasAt(s, 0, "GIF87a") || HasAt(s, 0, "GIF89a")) || s.size() < kHeaderSize) return std::nullopt;
    std::vector<Block> blocks;
    size_t at = kHeaderSize + ColorTableSize(Byte(s, 10));
    for (;;) {
        const std::optional<Block> block = ReadBlock(s, at);
        if (!block) return std::nullopt;
        blocks.push_back(*block);
        if (block->kind == kTrailer) return blocks;
        at = block->end;
    }
}

bool IsComment(const Block& b) { return b.kind == kExtension && b.label == kCommentLabel; }

// A graphic control extension belongs to the image after it, so the comment
// goes in front of it rather than between the two.
bool StartsGraphics(const Block& b) {
    return b.kind != kExtension || b.label == kGraphicControl || b.label == kPlainText;
}

void AddComment(Pieces& out, std::string_view comment) {
    out.push_back(static_cast<char>(kExtension));
    out.push_back(static_cast<char>(kCommentLabel));
    for (size_t at = 0; at < comment.size(); at += kMaxSubBlock) {
        const std::string_view part = comment.substr(at, kMaxSubBlock);
        out.push_back(static_cast<char>(part.size()));
        out.Add(part);
    }
    out.push_back('\0');
}

}  // namespace

Rewrite GifSetComment(std::string_view image, std::string_view comment) {
    const std::optional<std::vector<Block>> blocks = Parse(image);
    if (!blocks) return std::nullopt;
    const size_t header = kHeaderSize + ColorTableSize(Byte(image, 10));
    Pieces out;
    if (comment.empty()) {
        out.Keep(image.substr(0, header));
    } else {
        out.Keep(image.substr(0, 3));
        out.Add("89a");
        out.Keep(image.substr(6, header - 6));
    }
    bool placed = comment.empty();
    for (const Block& b : *blocks) {
        if (IsComment(b)) continue;
        if (!placed && StartsGraphics(b)) {
            AddComment(out, comment);
            placed = true;
        }
        out.Keep(image.substr(b.begin, b.end - b.begin));
    }
    out.Keep(image.substr(blocks->back().end));
    return out;
}

std::optional<std::string> GifReadComment(std::string_view image) {
    const std::optional<std::vector<Block>> blocks = Parse(image);
    if (!blocks) return std::nullopt;
    std::string comment;
    for (const Block& b : *blocks) {
        if (!IsComment(b)) continue;
        for (size_t at = b.begin + 2; Byte(image, at) != 0; at += 1 + Byte(image, at))
            comment.append(image.substr(at + 1, Byte(image, at)));
    }
    return comment;
}

}  // namespace kes
