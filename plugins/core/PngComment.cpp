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

// The text of one comment chunk in UTF-8; nothing for compressed text.
std::optional<std::string> ChunkText(const Chunk& c) {
    const std::string_view rest = c.data.substr(kKeyword.size());
    if (c.type == "tEXt") {
        std::string out;
        for (char ch : rest) PutUtf8(out, static_cast<uint8_t>(ch));
        return out;
    }
    if (c.type != "iTXt" || rest.size() < 2 || rest[0] != 0) return std::nullopt;
    const size_t language = rest.find('\0', 2);
    if (language == std::string_view::npos) return std::nullopt;
    const size_t translation = rest.find('\0', language + 1);
    if (translation == std::string_view::npos) return std::nullopt;
    return std::string(rest.substr(translation + 1));
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
        if (!IsComment(c)) continue;
        const std::optional<std::string> text = ChunkText(c);
        if (!text) return std::nullopt;
        comment += *text;
    }
    return comment;
}

}  // namespace kes
