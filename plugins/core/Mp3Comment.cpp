#include "Mp3Comment.h"

#include <vector>

#include "Id3v2.h"
#include "Text.h"

namespace kes {
namespace {

constexpr std::string_view kComm = "COMM";
constexpr size_t kFrameHeaderSize = 10, kCommPrefix = 4;  // encoding and language
constexpr uint32_t kMaxSyncsafe = 0x0FFFFFFF;
constexpr size_t kV1Size = 128, kV1CommentAt = 97, kV1CommentSize = 30;
// The header of the v2.3 tag that a file without one gets.
constexpr std::string_view kNewTag("ID3\x03\0\0\0\0\0\0", 10);
constexpr uint8_t kUtf16 = 1, kUtf16Be = 2, kUtf8 = 3;  // and 0, Latin-1

struct Frame {
    size_t begin, end;
    std::string_view id, data;
    uint16_t flags;
};

struct Tag {
    Id3v2Header header;
    size_t frames;  // where the frames start: after the extended header
    std::vector<Frame> list;
};

struct Mp3 {
    std::optional<Tag> tag;
    size_t audio = 0;  // after the ID3v2 tag
    std::optional<size_t> v1;
};

bool Is(const Tag& tag, uint8_t flag) { return (tag.header.flags & flag) != 0; }

// The header of an MPEG audio frame: the sync bits, and no reserved
// version, layer, bitrate or sampling rate.
bool StartsFrame(std::string_view s) {
    if (s.size() < 4 || Byte(s, 0) != 0xFF || (Byte(s, 1) & 0xE0) != 0xE0) return false;
    const uint8_t b1 = Byte(s, 1), b2 = Byte(s, 2);
    return (b1 >> 3 & 3) != 1 && (b1 >> 1 & 3) != 0 && b2 >> 4 != 0xF && (b2 >> 2 & 3) != 3;
}

// The extended header's size; nothing when it runs past the tag, or holds a
// checksum over the frames, which a new frame would make wrong.
std::optional<size_t> ExtendedHeaderSize(std::string_view s, const Tag& tag, size_t end) {
    const size_t at = kId3HeaderSize;
    if (end - at < 6) return std::nullopt;
    if (tag.header.version == 3) {
        const size_t size = 4 + size_t{Be32(s, at)};
        if ((size != 10 && size != 14) || end - at < size || (Byte(s, at + 4) & 0x80)) return std::nullopt;
        return size;
    }
    const std::optional<uint32_t> size = Syncsafe(s, at);
    if (!size || *size < 6 || end - at < *size || Byte(s, at + 4) != 1 || (Byte(s, at + 5) & 0x20))
        return std::nullopt;
    return *size;
}

bool FrameId(std::string_view id) {
    for (char c : id)
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
    return true;
}

std::optional<Tag> ParseTag(std::string_view s) {
    const std::optional<Id3v2Header> header = ReadId3v2Header(s);
    if (!header || header->version < 3) return std::nullopt;
    const uint8_t known = header->version == 3 ? 0xE0 : 0xF0;
    if ((header->flags & kId3Unsynchronised) || (header->flags & ~known)) return std::nullopt;
    Tag tag{*header, kId3HeaderSize, {}};
    const size_t end = kId3HeaderSize + header->size;
    // A footer repeats the header; without one there, the flag is wrong and
    // the bytes it would name are audio.
    if (header->total > end && !(HasAt(s, end, "3DI") && s.compare(end + 3, 7, s.substr(3, 7)) == 0))
        return std::nullopt;
    if (Is(tag, kId3Extended)) {
        const std::optional<size_t> extended = ExtendedHeaderSize(s, tag, end);
        if (!extended) return std::nullopt;
        tag.frames += *extended;
    }
    size_t at = tag.frames;
    while (end - at >= kFrameHeaderSize && Byte(s, at) != 0) {
        const std::string_view id = s.substr(at, 4);
        const std::optional<uint32_t> size =
            header->version == 3 ? std::optional<uint32_t>(Be32(s, at + 4)) : Syncsafe(s, at + 4);
        if (!FrameId(id) || !size || end - at - kFrameHeaderSize < *size) return std::nullopt;
        const size_t next = at + kFrameHeaderSize + *size;
        tag.list.push_back({at, next, id, s.substr(at + kFrameHeaderSize, *size), Be16(s, at + 8)});
        at = next;
    }
    // Padding is zeros; anything else there is no tag this core understands.
    if (s.substr(at, end - at).find_first_not_of('\0') != std::string_view::npos) return std::nullopt;
    // A v2.3 extended header gives the padding's size, which a rewrite
    // keeps true; one that is wrong already marks a tag not to trust.
    if (Is(tag, kId3Extended) && header->version == 3 && Be32(s, kId3HeaderSize + 6) != end - at)
        return std::nullopt;
    return tag;
}

std::optional<Mp3> Parse(std::string_view s) {
    Mp3 mp3;
    if (HasId3v2(s)) {
        mp3.tag = ParseTag(s);
        if (!mp3.tag) return std::nullopt;
        mp3.audio = mp3.tag->header.total;
    } else if (!StartsFrame(s)) {
        return std::nullopt;
    }
    if (s.size() - mp3.audio >= kV1Size && HasAt(s, s.size() - kV1Size, "TAG")) mp3.v1 = s.size() - kV1Size;
    return mp3;
}

// Compression, encryption, grouping and the like change how a frame's data
// reads; a comment frame with any of them cannot be told apart safely.
bool Plain(const Frame& f, uint8_t version) { return (f.flags & (version == 3 ? 0x00E0 : 0x004F)) == 0; }

bool Wide(uint8_t encoding) { return encoding == kUtf16 || encoding == kUtf16Be; }

// Where the description of a comment frame ends (after its terminator),
// and whether it is empty; nothing when the frame cannot be read.
struct Description {
    size_t end;
    bool empty;
};
std::optional<Description> ReadDescription(const Frame& f, uint8_t version) {
    if (!Plain(f, version) || f.data.size() < kCommPrefix || Byte(f.data, 0) > kUtf8) return std::nullopt;
    const bool wide = Wide(Byte(f.data, 0));
    const std::string_view terminator = wide ? std::string_view("\0\0", 2) : std::string_view("\0", 1);
    size_t at = kCommPrefix;
    for (; at < f.data.size(); at += terminator.size())
        if (HasAt(f.data, at, terminator)) break;
    const size_t length = std::min(at, f.data.size()) - kCommPrefix;
    const std::string_view text = f.data.substr(kCommPrefix, length);
    const bool empty = text.empty() || (wide && (text == "\xFF\xFE" || text == "\xFE\xFF"));
    return Description{std::min(at + terminator.size(), f.data.size()), empty};
}

// One of the frames this comment replaces: a comment without description.
std::optional<bool> Replaced(const Frame& f, uint8_t version) {
    if (f.id != kComm) return false;
    const std::optional<Description> d = ReadDescription(f, version);
    if (!d) return std::nullopt;
    return d->empty;
}

void PutUtf16Le(std::string& out, uint32_t cp) {
    if (cp >= 0x10000) {
        PutUtf16Le(out, 0xD800 | (cp - 0x10000) >> 10);
        cp = 0xDC00 | (cp & 0x3FF);
    }
    PutLe16(out, cp);
}

std::optional<std::string> CommFrame(std::string_view text, uint8_t version) {
    const std::optional<std::vector<uint32_t>> points = DecodeUtf8(text);
    if (!points) return std::nullopt;
    std::string data("\x01" "eng\xFF\xFE\0\0\xFF\xFE", 10);
    for (uint32_t cp : *points) PutUtf16Le(data, cp);
    if (data.size() > kMaxSyncsafe) return std::nullopt;
    std::string frame(kComm);
    if (version == 3) {
        PutBe32(frame, static_cast<uint32_t>(data.size()));
    } else {
        PutSyncsafe(frame, static_cast<uint32_t>(data.size()));
    }
    frame.append("\0\0", 2);
    return frame + data;
}

// The tag again: its frames with the comment in place, then padding. The
// padding takes up the change where it can, so that the audio stays where
// it was; a tag with a footer has none.
bool PutTag(Pieces& out, std::string_view s, const Tag& tag, std::string_view text) {
    const uint8_t version = tag.header.version;
    std::optional<std::string> comm;
    if (!text.empty()) {
        comm = CommFrame(text, version);
        if (!comm) return false;
    }
    std::vector<const Frame*> frames;  // null where the new frame goes
    bool placed = false;
    size_t framesSize = comm ? comm->size() : 0;
    for (const Frame& f : tag.list) {
        const std::optional<bool> replaced = Replaced(f, version);
        if (!replaced) return false;
        if (!*replaced) {
            frames.push_back(&f);
            framesSize += f.end - f.begin;
        } else if (comm && !placed) {
            frames.push_back(nullptr);
            placed = true;
        }
    }
    if (comm && !placed) frames.push_back(nullptr);

    const size_t room = kId3HeaderSize + tag.header.size - tag.frames;
    const bool footer = tag.header.total > kId3HeaderSize + tag.header.size;
    const size_t padding = !footer && framesSize <= room ? room - framesSize : 0;
    const size_t size = tag.frames - kId3HeaderSize + framesSize + padding;
    if (size > kMaxSyncsafe) return false;

    out.Keep(s.substr(0, 6));
    PutSyncsafe(out, static_cast<uint32_t>(size));
    if (Is(tag, kId3Extended) && version == 3) {  // its padding size follows the change
        out.Keep(s.substr(kId3HeaderSize, 6));
        PutBe32(out, static_cast<uint32_t>(padding));
        out.Keep(s.substr(kId3HeaderSize + 10, tag.frames - kId3HeaderSize - 10));
    } else {
        out.Keep(s.substr(kId3HeaderSize, tag.frames - kId3HeaderSize));
    }
    for (const Frame* f : frames) {
        if (f) {
            out.Keep(s.substr(f->begin, f->end - f->begin));
        } else {
            out.Add(*comm);
        }
    }
    out.Add(std::string(padding, '\0'));
    if (footer) {
        out.Add("3DI");
        out.Keep(s.substr(3, 3));
        PutSyncsafe(out, static_cast<uint32_t>(size));
    }
    return true;
}

size_t V1Room(std::string_view s, size_t v1) {
    const bool track = Byte(s, v1 + kV1CommentAt + 28) == 0 && Byte(s, v1 + kV1CommentAt + 29) != 0;
    return track ? 28 : kV1CommentSize;
}

bool ShiftJisLead(uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// Decodes a comment frame's text leniently, as players show it: a broken
// surrogate becomes U+FFFD, and terminating NULs are dropped.
std::string CommText(const Frame& f, const Description& d) {
    const uint8_t encoding = Byte(f.data, 0);
    std::string_view raw = f.data.substr(d.end);
    std::string out;
    if (!Wide(encoding)) {
        if (encoding == kUtf8) {
            out = raw;
        } else {
            for (char c : raw) PutUtf8(out, static_cast<uint8_t>(c));
        }
    } else {
        bool big = encoding == kUtf16Be;
        if (encoding == kUtf16 && (HasAt(raw, 0, "\xFF\xFE") || HasAt(raw, 0, "\xFE\xFF"))) {
            big = Byte(raw, 0) == 0xFE;
            raw.remove_prefix(2);
        }
        const auto unit = [&](size_t at) -> uint32_t { return big ? Be16(raw, at) : Le16(raw, at); };
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
    }
    while (!out.empty() && out.back() == '\0') out.pop_back();
    return out;
}

}  // namespace

std::string Id3v1Comment(std::string_view s, size_t room) {
    std::string out;
    for (size_t i = 0; i < s.size();) {
        std::string_view c;
        if (s[i] == '\r' || s[i] == '\n') {
            c = " ";
            i += s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n' ? 2 : 1;
        } else {
            c = s.substr(i, ShiftJisLead(Byte(s, i)) ? 2 : 1);
            i += c.size();
        }
        if (out.size() + c.size() > room) break;
        out.append(c);
    }
    out.resize(room, '\0');
    return out;
}

Rewrite Mp3SetComment(std::string_view file, std::string_view shiftJis, std::string_view utf8) {
    const std::optional<std::string> text = UnicodeComment(utf8);
    if (!text || shiftJis.find('\0') != std::string_view::npos) return std::nullopt;
    const std::optional<Mp3> mp3 = Parse(file);
    if (!mp3) return std::nullopt;
    Pieces out;
    if (mp3->tag) {
        if (!PutTag(out, file, *mp3->tag, *text)) return std::nullopt;
    } else if (!text->empty()) {
        const Tag bare{{3, 0, 0, kId3HeaderSize}, kId3HeaderSize, {}};
        if (!PutTag(out, kNewTag, bare, *text)) return std::nullopt;
    }
    if (!mp3->v1) {
        out.Keep(file.substr(mp3->audio));
        return out;
    }
    const size_t field = *mp3->v1 + kV1CommentAt, room = V1Room(file, *mp3->v1);
    out.Keep(file.substr(mp3->audio, field - mp3->audio));
    out.Add(Id3v1Comment(shiftJis, room));
    out.Keep(file.substr(field + room));
    return out;
}

std::optional<Mp3Tags> Mp3Read(std::string_view file) {
    const std::optional<Mp3> mp3 = Parse(file);
    if (!mp3) return std::nullopt;
    Mp3Tags read;
    if (mp3->tag) {
        const Tag& tag = *mp3->tag;
        std::string frames;
        for (const Frame& f : tag.list) {
            const std::optional<bool> replaced = Replaced(f, tag.header.version);
            if (!replaced) return std::nullopt;
            if (*replaced) {
                read.comment += CommText(f, *ReadDescription(f, tag.header.version));
            } else {
                frames.append(file.substr(f.begin, f.end - f.begin));
            }
        }
        // A v2.3 tag with nothing but comments counts as none: the setter
        // adds one to a file without. The padding size of a v2.3 extended
        // header follows the frames.
        std::string extended(file.substr(kId3HeaderSize, tag.frames - kId3HeaderSize));
        if (tag.header.version == 3 && !extended.empty()) extended.replace(6, 4, 4, '\0');
        if (!frames.empty() || !extended.empty() || tag.header.version != 3 || tag.header.flags != 0)
            read.rest = std::string(file.substr(3, 3)) + extended + frames;
    }
    if (!mp3->v1) {
        read.rest.append(file.substr(mp3->audio));
        return read;
    }
    const size_t field = *mp3->v1 + kV1CommentAt, room = V1Room(file, *mp3->v1);
    const std::string_view value = file.substr(field, room);
    read.v1 = std::string(value.substr(0, value.find('\0')));
    read.rest.append(file.substr(mp3->audio, field - mp3->audio));
    read.rest.append(file.substr(field + room));
    return read;
}

}  // namespace kes
