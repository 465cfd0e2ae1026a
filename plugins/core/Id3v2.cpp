#include "Id3v2.h"

namespace kes {
namespace {

// v2.2 knows two flags, unsynchronisation and compression, whose scheme it
// never defined; v2.3 adds an extended header and an experimental flag,
// v2.4 a footer.
constexpr uint8_t kKnownFlags[3] = {kId3Unsynchronised, 0xE0, 0xF0};
// In v2.4 a frame's own flag, or the tag's for all of them.
constexpr uint16_t kFrameUnsynchronised = 0x0002;

// Frame ids are upper-case letters and digits. Some taggers also wrote
// lower-case letters, and spaces after the first (ids carried over from
// v2.2); readers keep such frames as frames of their own.
bool FrameId(std::string_view id) {
    const auto alnum = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); };
    for (size_t i = 0; i < id.size(); ++i)
        if (!alnum(id[i]) && (i == 0 || id[i] != ' ')) return false;
    return true;
}

std::optional<uint32_t> FrameSize(std::string_view s, size_t at, uint8_t version, bool syncsafe) {
    if (version == 2) return Be24(s, at);
    if (version == 4 && syncsafe) return Syncsafe(s, at);
    return Be32(s, at);
}

// The frames from `at` on, each where the one before ends, up to `end` or
// to padding of zeros; nothing when they do not line up.
std::optional<std::vector<Id3v2Frame>> WalkFrames(std::string_view tag, uint8_t version, size_t at, size_t end,
                                                  bool syncsafe) {
    const size_t header = Id3v2FrameHeaderSize(version), idSize = Id3v2FrameIdSize(version);
    std::vector<Id3v2Frame> list;
    while (end - at >= header && Byte(tag, at) != 0) {
        const std::string_view id = tag.substr(at, idSize);
        const std::optional<uint32_t> size = FrameSize(tag, at + idSize, version, syncsafe);
        if (!FrameId(id) || !size || end - at - header < *size) return std::nullopt;
        const size_t next = at + header + *size;
        list.push_back({at, next, id, tag.substr(at + header, *size), version == 2 ? uint16_t{0} : Be16(tag, at + 8)});
        at = next;
    }
    if (tag.substr(at, end - at).find_first_not_of('\0') != std::string_view::npos) return std::nullopt;
    return list;
}

size_t PaddingOf(const std::vector<Id3v2Frame>& list, size_t frames) { return list.empty() ? frames : list.back().end; }

// Where the frames start: after the extended header, whose size v2.3
// counts without its own four bytes and v2.4 with them, as a syncsafe
// number.
std::optional<size_t> FirstFrame(std::string_view tag, uint8_t version, uint8_t flags, size_t end) {
    if (!(flags & kId3Extended)) return kId3HeaderSize;
    if (end - kId3HeaderSize < 4) return std::nullopt;
    const std::optional<uint32_t> size = version == 3 ? 4 + Be32(tag, kId3HeaderSize) : Syncsafe(tag, kId3HeaderSize);
    if (!size || *size < 4 || end - kId3HeaderSize < *size) return std::nullopt;
    return kId3HeaderSize + *size;
}

// The header of a tag in the form a rewrite keeps: unsynchronisation gone
// from its flags, and the size its body now has.
std::string PlainHeader(std::string_view file, std::string_view magic, uint8_t flags, size_t size) {
    std::string header(magic);
    header.append(file.substr(3, 2));
    header += static_cast<char>(flags);
    PutSyncsafe(header, static_cast<uint32_t>(size));
    return header;
}

// v2.4 frames with sizes read one way or the other, made over into the
// plain form: each unsynchronised frame resynchronised, its flag cleared,
// and every size syncsafe.
std::optional<std::string> PlainFrames(const std::vector<Id3v2Frame>& list, bool unsynchronised) {
    std::string out;
    for (const Id3v2Frame& f : list) {
        const bool resync = unsynchronised || (f.flags & kFrameUnsynchronised);
        const std::optional<std::string> data = resync ? Resynchronised(f.data) : std::string(f.data);
        if (!data) return std::nullopt;
        out.append(f.id);
        PutSyncsafe(out, static_cast<uint32_t>(data->size()));
        PutBe16(out, f.flags & ~kFrameUnsynchronised);
        out.append(*data);
    }
    return out;
}

// v2.4 frame sizes as syncsafe numbers or, as that player wrote them, as
// plain integers: the reading whose frames line up; the same frames when
// both do, as with sizes under 128.
std::optional<std::vector<Id3v2Frame>> V4Frames(std::string_view file, size_t frames, size_t end, bool& plainSizes) {
    std::optional<std::vector<Id3v2Frame>> syncsafe = WalkFrames(file, 4, frames, end, true);
    std::optional<std::vector<Id3v2Frame>> plain = WalkFrames(file, 4, frames, end, false);
    const auto ends = [](const std::vector<Id3v2Frame>& list) {
        std::vector<size_t> at;
        for (const Id3v2Frame& f : list) at.push_back(f.end);
        return at;
    };
    if (syncsafe && plain && ends(*syncsafe) != ends(*plain)) return std::nullopt;
    plainSizes = !syncsafe && plain;
    return syncsafe ? syncsafe : plain;
}

}  // namespace

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

std::optional<std::string> Resynchronised(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        out += bytes[i];
        if (Byte(bytes, i) != 0xFF) continue;
        if (i + 1 == bytes.size() || Byte(bytes, i + 1) >= 0xE0) return std::nullopt;
        if (Byte(bytes, i + 1) == 0) ++i;
    }
    return out;
}

std::optional<Id3v2Tag> ReadId3v2Tag(std::string_view file) {
    const std::optional<Id3v2Header> header = ReadId3v2Header(file);
    if (!header || (header->flags & ~kKnownFlags[header->version - 2])) return std::nullopt;
    const size_t end = kId3HeaderSize + header->size;
    // A footer repeats the header; without one there, the flag is wrong and
    // the bytes it would name are audio.
    const bool footer = header->total > end;
    if (footer && !(HasAt(file, end, "3DI") && file.compare(end + 3, 7, file.substr(3, 7)) == 0)) return std::nullopt;
    const bool unsynchronised = header->flags & kId3Unsynchronised;
    Id3v2Tag tag;
    tag.header = *header;
    tag.header.flags &= ~kId3Unsynchronised;
    tag.bytes = file.substr(0, header->total);

    std::string copy;
    if (header->version < 4) {
        // Unsynchronisation covers everything after the header, extended
        // header and padding too, and the sizes count what it gives.
        if (unsynchronised) {
            const std::optional<std::string> body = Resynchronised(file.substr(kId3HeaderSize, header->size));
            if (!body) return std::nullopt;
            copy = PlainHeader(file, "ID3", tag.header.flags, body->size()) + *body;
        }
    } else {
        // In v2.4 it covers each frame apart, and the sizes count what it
        // left; the extended header is made never to need it.
        const std::optional<size_t> frames = FirstFrame(file, 4, header->flags, end);
        bool plainSizes = false;
        const std::optional<std::vector<Id3v2Frame>> list = frames ? V4Frames(file, *frames, end, plainSizes) : std::nullopt;
        if (!list) return std::nullopt;
        bool resync = unsynchronised;
        for (const Id3v2Frame& f : *list) resync = resync || (f.flags & kFrameUnsynchronised);
        if (resync || plainSizes) {
            std::optional<std::string> body = PlainFrames(*list, unsynchronised);
            if (!body) return std::nullopt;
            body->insert(0, file.substr(kId3HeaderSize, *frames - kId3HeaderSize));
            body->append(end - PaddingOf(*list, *frames), '\0');
            copy = PlainHeader(file, "ID3", tag.header.flags, body->size()) + *body;
            if (footer) copy += PlainHeader(file, "3DI", tag.header.flags, body->size());
        }
    }
    if (!copy.empty()) {
        tag.copy = std::make_shared<const std::string>(std::move(copy));
        tag.bytes = *tag.copy;
    }
    tag.end = tag.bytes.size() - (footer ? kId3HeaderSize : 0);
    const std::optional<size_t> frames = FirstFrame(tag.bytes, header->version, header->flags, tag.end);
    if (!frames) return std::nullopt;
    std::optional<std::vector<Id3v2Frame>> list = WalkFrames(tag.bytes, header->version, *frames, tag.end, true);
    if (!list) return std::nullopt;
    tag.frames = *frames;
    tag.list = std::move(*list);
    tag.padding = PaddingOf(tag.list, tag.frames);
    return tag;
}

}  // namespace kes
