#include "PngComment.h"

#include <zlib.h>

#include <cctype>
#include <vector>

#include "Text.h"

namespace kes {
namespace {

constexpr std::string_view kSignature("\x89PNG\r\n\x1A\n", 8);
constexpr std::string_view kKeyword("Comment\0", 8);
constexpr size_t kKeywordLength = 7;
constexpr uint32_t kMaxChunkData = 0x7FFFFFFF;

struct Chunk {
    size_t begin;  // its length field
    std::string_view type;
    std::string_view data;
    size_t end;  // after its CRC
};

uint32_t Crc(std::string_view typeAndData) {
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(typeAndData.data()), static_cast<uInt>(typeAndData.size())));
}

bool TypeLetters(std::string_view type) {
    for (char c : type) {
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return false;
    }
    return true;
}

std::optional<Chunk> ReadChunk(std::string_view s, size_t at) {
    if (s.size() - at < 12) return std::nullopt;
    const uint32_t length = Be32(s, at);
    if (length > kMaxChunkData || s.size() - at - 12 < length) return std::nullopt;
    const std::string_view typeAndData = s.substr(at + 4, 4 + length);
    if (!TypeLetters(typeAndData.substr(0, 4))) return std::nullopt;
    if (Crc(typeAndData) != Be32(s, at + 8 + length)) return std::nullopt;
    return Chunk{at, typeAndData.substr(0, 4), typeAndData.substr(4), at + 12 + length};
}

// The chunks from IHDR to IEND; bytes after IEND are left to the caller.
std::optional<std::vector<Chunk>> Parse(std::string_view s) {
    if (!HasAt(s, 0, kSignature)) return std::nullopt;
    std::vector<Chunk> chunks;
    bool imageData = false;
    for (size_t at = kSignature.size();;) {
        const std::optional<Chunk> chunk = ReadChunk(s, at);
        if (!chunk) return std::nullopt;
        if (chunks.empty() && (chunk->type != "IHDR" || chunk->data.size() != 13)) return std::nullopt;
        if (chunk->type == "IDAT") imageData = true;
        chunks.push_back(*chunk);
        if (chunk->type == "IEND") break;
        at = chunk->end;
    }
    if (!imageData) return std::nullopt;
    return chunks;
}

// Keywords are case-sensitive, but programs write "comment" too and readers
// show it as the comment, so a stale one in any case would linger there.
bool HasCommentKeyword(std::string_view data) {
    if (data.size() <= kKeywordLength || data[kKeywordLength] != '\0') return false;
    for (size_t i = 0; i < kKeywordLength; ++i) {
        if (std::tolower(static_cast<unsigned char>(data[i])) !=
            std::tolower(static_cast<unsigned char>(kKeyword[i])))
            return false;
    }
    return true;
}

bool IsComment(const Chunk& c) {
    return (c.type == "tEXt" || c.type == "zTXt" || c.type == "iTXt") && HasCommentKeyword(c.data);
}

// The data of the one comment chunk: Latin-1 text where that loses nothing,
// else UTF-8 in an uncompressed iTXt with empty language and translation.
std::pair<std::string_view, std::string> CommentChunk(std::string_view utf8,
                                                      const std::vector<uint32_t>& text) {
    std::string data(kKeyword);
    bool latin1 = true;
    for (uint32_t cp : text) latin1 = latin1 && cp <= 0xFF;
    if (latin1) {
        for (uint32_t cp : text) data += static_cast<char>(cp);
        return {"tEXt", data};
    }
    data.append("\0\0\0\0", 4);  // compression flag, method, language, translation
    data.append(utf8);
    return {"iTXt", data};
}

std::string MakeChunk(std::string_view type, std::string_view data) {
    std::string chunk;
    PutBe32(chunk, static_cast<uint32_t>(data.size()));
    chunk.append(type);
    chunk.append(data);
    PutBe32(chunk, Crc(std::string_view(chunk).substr(4)));
    return chunk;
}

// Text that other programs compressed (zlib, method 0), inflated to at
// most kMaxInflated bytes; nothing when it does not inflate.
constexpr size_t kMaxInflated = 64 << 20;
std::optional<std::string> Inflated(std::string_view data) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return std::nullopt;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    std::string text;
    int status = Z_OK;
    while (status == Z_OK && text.size() <= kMaxInflated) {
        char buffer[16384];
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof buffer;
        status = inflate(&z, Z_NO_FLUSH);
        text.append(buffer, sizeof buffer - z.avail_out);
    }
    inflateEnd(&z);
    if (status != Z_STREAM_END || text.size() > kMaxInflated) return std::nullopt;
    return text;
}

std::string Latin1ToUtf8(std::string_view latin1) {
    std::string out;
    for (char ch : latin1) PutUtf8(out, static_cast<uint8_t>(ch));
    return out;
}

// The text of one comment chunk in UTF-8. The setter replaces any of them,
// so a reader finds a text in each: one that is malformed or does not
// inflate reads as U+FFFD.
constexpr std::string_view kUnreadable = "\xEF\xBF\xBD";
std::string ChunkText(const Chunk& c) {
    const std::string_view rest = c.data.substr(kKeyword.size());
    if (c.type == "tEXt") return Latin1ToUtf8(rest);
    if (c.type == "zTXt") {
        const std::optional<std::string> text = rest.empty() || rest[0] != 0 ? std::nullopt : Inflated(rest.substr(1));
        return text ? Latin1ToUtf8(*text) : std::string(kUnreadable);
    }
    // iTXt: compression flag and method, language, translated keyword, text.
    const size_t language = rest.find('\0', 2);
    const size_t translation = language == std::string_view::npos ? language : rest.find('\0', language + 1);
    if (rest.size() < 2 || translation == std::string_view::npos || rest[1] != 0) return std::string(kUnreadable);
    const std::string_view text = rest.substr(translation + 1);
    if (rest[0] == 0) return std::string(text);
    return Inflated(text).value_or(std::string(kUnreadable));
}

}  // namespace

Rewrite PngSetComment(std::string_view image, std::string_view utf8) {
    const std::string comment = ToLineFeeds(utf8);
    const std::optional<std::vector<uint32_t>> text = DecodeUtf8(comment);
    if (!text || comment.find('\0') != std::string::npos) return std::nullopt;
    if (comment.size() > kMaxChunkData - kKeyword.size() - 4) return std::nullopt;
    const std::optional<std::vector<Chunk>> chunks = Parse(image);
    if (!chunks) return std::nullopt;

    Pieces out;
    out.Keep(image.substr(0, kSignature.size()));
    bool placed = comment.empty();
    for (const Chunk& c : *chunks) {
        if (IsComment(c)) continue;
        if (!placed && c.type == "IDAT") {
            const auto [type, data] = CommentChunk(comment, *text);
            out.Add(MakeChunk(type, data));
            placed = true;
        }
        out.Keep(image.substr(c.begin, c.end - c.begin));
    }
    out.Keep(image.substr(chunks->back().end));
    return out;
}

std::optional<std::string> PngReadComment(std::string_view image) {
    const std::optional<std::vector<Chunk>> chunks = Parse(image);
    if (!chunks) return std::nullopt;
    std::string comment;
    for (const Chunk& c : *chunks) {
        if (IsComment(c)) comment += ChunkText(c);
    }
    return comment;
}

}  // namespace kes
