#include "Mp3Comment.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <vector>

#include "Id3v2.h"
#include "Text.h"

namespace kes {
namespace {

constexpr size_t kCommPrefix = 4;  // encoding and language
constexpr uint32_t kMaxSyncsafe = 0x0FFFFFFF, kMaxBe24 = 0xFFFFFF;
constexpr size_t kV1Size = 128, kV1CommentAt = 97, kV1CommentSize = 30;
// The header of the v2.3 tag that a file without one gets.
constexpr std::string_view kNewTag("ID3\x03\0\0\0\0\0\0", 10);
constexpr uint8_t kUtf16 = 1, kUtf16Be = 2, kUtf8 = 3;  // and 0, Latin-1
// The flags of a v2.4 extended header, each with data of a fixed length.
constexpr uint8_t kUpdate = 0x40, kCrc = 0x20, kRestrictions = 0x10;
constexpr size_t kCrcSize = 5;  // 35 bits, seven in each byte
// In the restrictions: strings only in Latin-1 or UTF-8.
constexpr uint8_t kLatin1OrUtf8 = 0x20;
// An untagged file may start with stray bytes before its first frame;
// that frame is looked for this far in, and only a run of this many
// frame headers, each where the one before says, counts as one.
constexpr size_t kFrameSearch = 64 * 1024, kFramesInRun = 4;

// The id of the comment frame: v2.2 has three-letter ids.
std::string_view CommId(uint8_t version) { return version == 2 ? "COM" : "COMM"; }

using Frame = Id3v2Frame;

// The tag as its readers take it (Id3v2.h), with what a v2.4 extended
// header holds that a rewrite must keep true.
struct Tag : Id3v2Tag {
    std::optional<size_t> crc;            // where a v2.4 extended header keeps its checksum
    std::optional<uint8_t> restrictions;  // and its restrictions
};

// An APEv2 tag at the end, before any ID3v1 tag. Some players show its
// Comment item rather than the ID3v2 frame, so that item follows the
// comment too.
struct Ape {
    size_t begin, items, footer;  // its header (or first item), first item and footer
    bool header;
    std::vector<std::pair<size_t, size_t>> list;  // each item's bytes
    std::vector<bool> comment;                    // which of them are Comment items
};

struct Mp3 {
    std::optional<Tag> tag;
    size_t audio = 0;  // after the ID3v2 tag
    std::optional<Ape> ape;
    std::optional<size_t> v1;
};

bool Is(const Tag& tag, uint8_t flag) { return (tag.header.flags & flag) != 0; }

// The header of an MPEG audio frame: the sync bits, and no reserved
// version, layer, bitrate or sampling rate.
bool FrameHeader(std::string_view s, size_t at) {
    if (at > s.size() || s.size() - at < 4 || Byte(s, at) != 0xFF || (Byte(s, at + 1) & 0xE0) != 0xE0) return false;
    const uint8_t b1 = Byte(s, at + 1), b2 = Byte(s, at + 2);
    return (b1 >> 3 & 3) != 1 && (b1 >> 1 & 3) != 0 && b2 >> 4 != 0xF && (b2 >> 2 & 3) != 3;
}

// The length of the frame whose header stands at `at`; nothing where there
// is no header, and for free format, whose length the header does not give.
std::optional<size_t> FrameLength(std::string_view s, size_t at) {
    if (!FrameHeader(s, at) || Byte(s, at + 2) >> 4 == 0) return std::nullopt;
    const uint8_t b1 = Byte(s, at + 1), b2 = Byte(s, at + 2);
    const uint8_t version = b1 >> 3 & 3, layer = b1 >> 1 & 3;
    static const uint16_t kKbps[5][14] = {
        {32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // MPEG-1 layer I
        {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // MPEG-1 layer II
        {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},      // MPEG-1 layer III
        {32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},     // MPEG-2 and 2.5, layer I
        {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};         // and layers II and III
    static const uint32_t kHz[3] = {44100, 48000, 32000};
    const bool mpeg1 = version == 3;
    const size_t row = mpeg1 ? 3 - layer : (layer == 3 ? 3 : 4);
    const uint32_t bps = kKbps[row][(b2 >> 4) - 1] * 1000u;
    const uint32_t hz = kHz[b2 >> 2 & 3] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    const size_t padding = b2 >> 1 & 1;
    if (layer == 3) return (12 * bps / hz + padding) * 4;
    const uint32_t factor = layer == 1 && !mpeg1 ? 72 : 144;  // layer III of MPEG-2 and 2.5 holds half the samples
    return factor * bps / hz + padding;
}

// A frame at `at` followed by frames, each where the one before it ends,
// all of one version, layer and sampling rate.
bool StartsRun(std::string_view s, size_t at) {
    size_t next = at;
    for (size_t i = 0; i < kFramesInRun; ++i) {
        const std::optional<size_t> length = FrameLength(s, next);
        if (!length || (Byte(s, next + 1) & 0xFE) != (Byte(s, at + 1) & 0xFE) ||
            (Byte(s, next + 2) & 0x0C) != (Byte(s, at + 2) & 0x0C))
            return false;
        next += *length;
    }
    return true;
}

// Containers (WAV, AVI, MP4, Matroska and the like) hold MPEG audio frames
// too, but their own header must stay at the start of the file.
bool InContainer(std::string_view s) {
    for (std::string_view front : {std::string_view("RIFF"), std::string_view("FORM"), std::string_view("FLV\x01", 4),
                                   std::string_view("\x1A\x45\xDF\xA3", 4), std::string_view("\x30\x26\xB2\x75", 4),
                                   std::string_view("\0\0\x01\xBA", 4)})
        if (HasAt(s, 0, front)) return true;
    for (std::string_view box : {"ftyp", "moov", "mdat", "free", "skip", "wide"})
        if (HasAt(s, 4, box)) return true;
    return false;
}

// An untagged file starts with a frame, or has stray bytes (a run of zeros,
// the end of a removed tag) before a run of frames near its start.
bool AudioNearStart(std::string_view s) {
    if (FrameHeader(s, 0)) return true;
    if (InContainer(s)) return false;
    const size_t last = std::min(s.size(), kFrameSearch);
    for (size_t at = s.find('\xFF'); at < last; at = s.find('\xFF', at + 1))
        if (StartsRun(s, at)) return true;
    return false;
}

// The checksum of a v2.4 tag: 32 bits kept in five bytes of seven.
std::optional<uint32_t> ReadCrc(std::string_view s, size_t at) {
    uint64_t value = 0;
    for (size_t i = 0; i < kCrcSize; ++i) {
        if (Byte(s, at + i) & 0x80) return std::nullopt;
        value = value << 7 | Byte(s, at + i);
    }
    if (value > UINT32_MAX) return std::nullopt;
    return static_cast<uint32_t>(value);
}
void PutCrc(Pieces& out, uint32_t crc) {
    for (int shift : {28, 21, 14, 7, 0}) out.push_back(static_cast<char>(crc >> shift & 0x7F));
}
uint32_t Crc(uint32_t crc, std::string_view bytes) {
    return static_cast<uint32_t>(crc32(crc, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

// Reads what the extended header holds into the tag; false when it holds
// what a rewrite could not keep true: a v2.3 checksum (over the frames
// without the padding), or v2.4 flags this core does not know, whose data
// it could not place.
bool ReadExtendedHeader(Tag& tag) {
    const std::string_view s = tag.bytes;
    const size_t at = kId3HeaderSize, size = tag.frames - at;
    if (size < 6) return false;
    if (tag.header.version == 3) return (size == 10 || size == 14) && !(Byte(s, at + 4) & 0x80);
    const uint8_t flags = Byte(s, at + 5);
    if (Byte(s, at + 4) != 1 || (flags & ~(kUpdate | kCrc | kRestrictions))) return false;
    // Each flag that is set has its data in the flags' order: a length
    // byte and that many bytes. Bytes after them stay as they were.
    size_t data = at + 6;
    for (const auto& [flag, length] : {std::pair<uint8_t, size_t>{kUpdate, 0}, {kCrc, kCrcSize}, {kRestrictions, 1}}) {
        if (!(flags & flag)) continue;
        if (at + size - data < 1 + length || Byte(s, data) != length) return false;
        if (flag == kCrc) tag.crc = data + 1;
        if (flag == kRestrictions) tag.restrictions = Byte(s, data + 1);
        data += 1 + length;
    }
    return true;
}

std::optional<Tag> ParseTag(std::string_view s) {
    std::optional<Id3v2Tag> read = ReadId3v2Tag(s);
    if (!read) return std::nullopt;
    Tag tag{std::move(*read), std::nullopt, std::nullopt};
    if (Is(tag, kId3Extended) && !ReadExtendedHeader(tag)) return std::nullopt;
    // A v2.3 extended header gives the padding's size, which a rewrite
    // keeps true; one that is wrong already marks a tag not to trust. So
    // does a v2.4 checksum that does not match the frames and padding as
    // the file holds them.
    if (Is(tag, kId3Extended) && tag.header.version == 3 && Be32(tag.bytes, kId3HeaderSize + 6) != tag.end - tag.padding)
        return std::nullopt;
    const size_t end = kId3HeaderSize + tag.header.size;
    if (tag.crc && ReadCrc(tag.bytes, *tag.crc) != Crc(0, s.substr(tag.frames, end - tag.frames))) return std::nullopt;
    return tag;
}

constexpr std::string_view kApeSignature = "APETAGEX";
constexpr size_t kApeHeaderSize = 32;
constexpr uint32_t kApeHasHeader = 0x80000000u, kApeIsHeader = 0x20000000u;
constexpr uint32_t kApeV1 = 1000, kApeV2 = 2000;

bool IsCommentKey(std::string_view key) {
    constexpr std::string_view kComment = "comment";
    return key.size() == kComment.size() && std::equal(key.begin(), key.end(), kComment.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == b;
           });
}

// Reads an APE tag whose footer ends at `end`, after `from`. No tag there
// is no tag; one that is there but does not hold together is a refusal,
// as is a Comment item that is no plain text (or is marked read-only), or
// one in a version 1 tag, whose text is not UTF-8.
std::optional<std::optional<Ape>> ReadApe(std::string_view s, size_t from, size_t end) {
    const std::optional<Ape> none;
    if (end - from < kApeHeaderSize || !HasAt(s, end - kApeHeaderSize, kApeSignature)) return none;
    const size_t footer = end - kApeHeaderSize;
    const uint32_t version = Le32(s, footer + 8), size = Le32(s, footer + 12), count = Le32(s, footer + 16),
                   flags = Le32(s, footer + 20);
    if ((version != kApeV1 && version != kApeV2) || (flags & kApeIsHeader) || size < kApeHeaderSize ||
        end - from < size)
        return std::nullopt;
    const bool header = version == kApeV2 && (flags & kApeHasHeader);
    Ape ape{end - size, end - size, footer, header, {}, {}};
    if (header) {
        if (ape.begin - from < kApeHeaderSize) return std::nullopt;
        ape.begin -= kApeHeaderSize;
        if (!HasAt(s, ape.begin, kApeSignature) || s.compare(ape.begin + 8, 12, s.substr(footer + 8, 12)) != 0 ||
            Le32(s, ape.begin + 20) != (flags | kApeIsHeader))
            return std::nullopt;
    }
    size_t at = ape.items;
    for (uint32_t i = 0; i < count; ++i) {
        if (footer - at < 9) return std::nullopt;
        const size_t value = Le32(s, at), keyAt = at + 8;
        const size_t keyEnd = s.find('\0', keyAt);
        if (keyEnd >= footer || keyEnd - keyAt < 2 || keyEnd - keyAt > 255 || footer - keyEnd - 1 < value)
            return std::nullopt;
        const std::string_view key = s.substr(keyAt, keyEnd - keyAt);
        for (char c : key)
            if (c < 0x20 || c > 0x7E) return std::nullopt;
        const bool comment = IsCommentKey(key);
        if (comment && (version != kApeV2 || Le32(s, at + 4) != 0)) return std::nullopt;
        ape.list.push_back({at, keyEnd + 1 + value});
        ape.comment.push_back(comment);
        at = keyEnd + 1 + value;
    }
    if (at != footer) return std::nullopt;
    return ape;
}

std::optional<Mp3> Parse(std::string_view s) {
    Mp3 mp3;
    if (HasId3v2(s)) {
        mp3.tag = ParseTag(s);
        if (!mp3.tag) return std::nullopt;
        mp3.audio = mp3.tag->header.total;
    } else if (!AudioNearStart(s)) {
        return std::nullopt;
    }
    if (s.size() - mp3.audio >= kV1Size && HasAt(s, s.size() - kV1Size, "TAG")) mp3.v1 = s.size() - kV1Size;
    const std::optional<std::optional<Ape>> ape = ReadApe(s, mp3.audio, mp3.v1.value_or(s.size()));
    if (!ape) return std::nullopt;
    mp3.ape = *ape;
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
    if (f.id != CommId(version)) return false;
    const std::optional<Description> d = ReadDescription(f, version);
    if (!d) return std::nullopt;
    return d->empty;
}

// The comment frame: UTF-16 with a byte order mark, which every version
// knows, or UTF-8 where the tag's restrictions allow only that or
// Latin-1. v2.2's UTF-16 is UCS-2, which holds no character past U+FFFF.
// Nothing, and `why`, when the frame cannot be made.
std::optional<std::string> CommFrame(std::string_view text, const Tag& tag, Refusal& why) {
    const uint8_t version = tag.header.version;
    const std::optional<std::vector<uint32_t>> points = DecodeUtf8(text);
    why = Refusal::kFile;
    if (!points) return std::nullopt;
    std::string data;
    if (tag.restrictions && (*tag.restrictions & kLatin1OrUtf8)) {
        data.assign("\x03" "eng\0", 5);
        data.append(text);
    } else {
        data.assign("\x01" "eng\xFF\xFE\0\0\xFF\xFE", 10);
        for (uint32_t cp : *points) {
            if (version == 2 && cp >= 0x10000) return std::nullopt;
            PutUtf16Le(data, cp);
        }
    }
    why = Refusal::kCommentTooLong;
    std::string frame(CommId(version));
    if (version == 2) {
        if (data.size() > kMaxBe24) return std::nullopt;
        PutBe24(frame, data.size());
        return frame + data;
    }
    if (data.size() > kMaxSyncsafe) return std::nullopt;
    if (version == 3) {
        PutBe32(frame, static_cast<uint32_t>(data.size()));
    } else {
        PutSyncsafe(frame, static_cast<uint32_t>(data.size()));
    }
    frame.append("\0\0", 2);
    return frame + data;
}

// A v2.4 tag's restrictions on its size: at most so many frames and bytes.
bool WithinSizeRestriction(const Tag& tag, size_t frames, size_t total) {
    if (!tag.restrictions) return true;
    static const size_t kFrames[4] = {128, 64, 32, 32};
    static const size_t kBytes[4] = {1024 * 1024, 128 * 1024, 40 * 1024, 4 * 1024};
    const size_t limit = *tag.restrictions >> 6;
    return frames <= kFrames[limit] && total <= kBytes[limit];
}

// The tag again: its frames with the comment in place, then padding. The
// padding takes up the change where it can, so that the audio stays where
// it was; a tag with a footer has none. Nothing when written, else why
// not. A tag read from a copy (Id3v2.h) is written from it, and so copied.
std::optional<Refusal> PutTag(Pieces& out, const Tag& tag, std::string_view text) {
    const uint8_t version = tag.header.version;
    const std::string_view s = tag.bytes;
    const auto put = [&](std::string_view bytes) { tag.copy ? out.Add(bytes) : out.Keep(bytes); };
    std::optional<std::string> comm;
    if (!text.empty()) {
        Refusal why;
        comm = CommFrame(text, tag, why);
        if (!comm) return why;
    }
    std::vector<std::string_view> frames;
    bool placed = false;
    size_t framesSize = comm ? comm->size() : 0;
    for (const Frame& f : tag.list) {
        const std::optional<bool> replaced = Replaced(f, version);
        if (!replaced) return Refusal::kFile;
        if (!*replaced) {
            frames.push_back(s.substr(f.begin, f.end - f.begin));
            framesSize += f.end - f.begin;
        } else if (comm && !placed) {
            frames.push_back(*comm);
            placed = true;
        }
    }
    if (comm && !placed) frames.push_back(*comm);

    const size_t room = kId3HeaderSize + tag.header.size - tag.frames;
    const bool footer = tag.header.total > kId3HeaderSize + tag.header.size;
    const std::string padding(!footer && framesSize <= room ? room - framesSize : 0, '\0');
    const size_t size = tag.frames - kId3HeaderSize + framesSize + padding.size();
    const size_t total = kId3HeaderSize + size + (footer ? kId3HeaderSize : 0);
    if (size > kMaxSyncsafe) return Refusal::kCommentTooLong;
    // Too many bytes is the comment's fault where the tag would keep within
    // them without it; too many frames is the tag's.
    if (!WithinSizeRestriction(tag, frames.size(), total)) {
        const size_t bare = std::max(tag.header.total, total - (comm ? comm->size() : 0));
        return WithinSizeRestriction(tag, frames.size(), bare) ? Refusal::kCommentTooLong : Refusal::kFile;
    }

    put(s.substr(0, 6));
    PutSyncsafe(out, static_cast<uint32_t>(size));
    if (Is(tag, kId3Extended) && version == 3) {  // its padding size follows the change
        put(s.substr(kId3HeaderSize, 6));
        PutBe32(out, static_cast<uint32_t>(padding.size()));
        put(s.substr(kId3HeaderSize + 10, tag.frames - kId3HeaderSize - 10));
    } else if (tag.crc) {  // so does its checksum, over the frames and the padding
        uint32_t crc = 0;
        for (std::string_view f : frames) crc = Crc(crc, f);
        put(s.substr(kId3HeaderSize, *tag.crc - kId3HeaderSize));
        PutCrc(out, Crc(crc, padding));
        put(s.substr(*tag.crc + kCrcSize, tag.frames - *tag.crc - kCrcSize));
    } else {
        put(s.substr(kId3HeaderSize, tag.frames - kId3HeaderSize));
    }
    for (std::string_view f : frames) {
        if (comm && f.data() == comm->data()) {
            out.Add(f);
        } else {
            put(f);
        }
    }
    out.Add(padding);
    if (footer) {
        out.Add("3DI");
        put(s.substr(3, 3));
        PutSyncsafe(out, static_cast<uint32_t>(size));
    }
    return std::nullopt;
}

// The APE tag again, with its Comment items given way to one with the
// comment in the place of the first, or to none for an empty comment. A
// tag without a Comment item stays as it was.
void PutApe(Pieces& out, std::string_view s, const Ape& ape, std::string_view text) {
    std::string item;
    std::vector<std::string_view> kept;
    for (size_t i = 0; i < ape.list.size(); ++i) {
        const auto [begin, end] = ape.list[i];
        if (!ape.comment[i]) {
            kept.push_back(s.substr(begin, end - begin));
        } else if (item.empty() && !text.empty()) {
            PutLe32(item, text.size());
            PutLe32(item, 0);
            item.append(s.substr(begin + 8, s.find('\0', begin + 8) + 1 - begin - 8));  // its key as it was spelt
            item.append(text);
            kept.push_back(item);
        }
    }
    size_t size = kApeHeaderSize;  // the items and the footer, as the tag counts itself
    for (std::string_view k : kept) size += k.size();
    const auto putHeader = [&](size_t at) {
        out.Keep(s.substr(at, 12));
        PutLe32(out, size);
        PutLe32(out, kept.size());
        out.Keep(s.substr(at + 20, 12));
    };
    if (ape.header) putHeader(ape.begin);
    for (std::string_view k : kept) {
        if (k.data() == item.data()) {
            out.Add(k);
        } else {
            out.Keep(k);
        }
    }
    putHeader(ape.footer);
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
        out = Utf16ToUtf8(raw, big);
    }
    while (!out.empty() && out.back() == '\0') out.pop_back();
    return out;
}

// The tag again with the comment, or a new v2.3 tag in front where there
// was none; nothing is put where there is neither tag nor comment. Nothing
// when written, else why not.
std::optional<Refusal> PutComment(Pieces& out, const std::optional<Tag>& tag, std::string_view text) {
    if (tag) return PutTag(out, *tag, text);
    if (text.empty()) return std::nullopt;
    Tag bare;
    bare.header = {3, 0, 0, kId3HeaderSize};
    bare.bytes = kNewTag;
    return PutTag(out, bare, text);
}

// The tag's comment frames without description, in UTF-8 and joined, and
// the rest of the tag (as a rewrite keeps it) for comparing; false where a
// comment frame cannot be read.
bool ReadTag(const Tag& tag, std::string& comment, std::string& rest) {
    const std::string_view s = tag.bytes;
    std::string frames;
    for (const Frame& f : tag.list) {
        const std::optional<bool> replaced = Replaced(f, tag.header.version);
        if (!replaced) return false;
        if (*replaced) {
            comment += CommText(f, *ReadDescription(f, tag.header.version));
        } else {
            frames.append(s.substr(f.begin, f.end - f.begin));
        }
    }
    // A v2.3 tag with nothing but comments counts as none: the setter
    // adds one to a file without. The padding size of a v2.3 extended
    // header and the checksum of a v2.4 one follow the frames.
    std::string extended(s.substr(kId3HeaderSize, tag.frames - kId3HeaderSize));
    if (tag.header.version == 3 && !extended.empty()) extended.replace(6, 4, 4, '\0');
    if (tag.crc) extended.replace(*tag.crc - kId3HeaderSize, kCrcSize, kCrcSize, '\0');
    if (!frames.empty() || !extended.empty() || tag.header.version != 3 || tag.header.flags != 0)
        rest = std::string(s.substr(3, 3)) + extended + frames;
    return true;
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
    const std::optional<Refusal> refused = PutComment(out, mp3->tag, *text);
    if (refused) return *refused == Refusal::kCommentTooLong ? Rewrite::CommentTooLong() : std::nullopt;
    size_t at = mp3->audio;
    if (mp3->ape) {
        out.Keep(file.substr(at, mp3->ape->begin - at));
        PutApe(out, file, *mp3->ape, *text);
        at = mp3->ape->footer + kApeHeaderSize;
    }
    if (mp3->v1) {
        const size_t field = *mp3->v1 + kV1CommentAt, room = V1Room(file, *mp3->v1);
        out.Keep(file.substr(at, field - at));
        out.Add(Id3v1Comment(shiftJis, room));
        at = field + room;
    }
    out.Keep(file.substr(at));
    return out;
}

std::optional<Mp3Tags> Mp3Read(std::string_view file) {
    const std::optional<Mp3> mp3 = Parse(file);
    if (!mp3) return std::nullopt;
    Mp3Tags read;
    if (mp3->tag && !ReadTag(*mp3->tag, read.comment, read.rest)) return std::nullopt;
    size_t at = mp3->audio;
    if (mp3->ape) {
        const Ape& ape = *mp3->ape;
        read.rest.append(file.substr(at, ape.begin - at));
        read.ape = std::string();
        read.rest += ape.header ? 'H' : '-';
        for (size_t i = 0; i < ape.list.size(); ++i) {
            const auto [begin, end] = ape.list[i];
            if (!ape.comment[i]) {
                read.rest.append(file.substr(begin, end - begin));
            } else {
                const size_t value = file.find('\0', begin + 8) + 1;
                if (!read.ape->empty()) *read.ape += '\n';
                read.ape->append(file.substr(value, end - value));
            }
        }
        read.rest.append(file.substr(ape.footer + 8, 4));   // its version
        read.rest.append(file.substr(ape.footer + 20, 12));  // its flags and what is reserved
        at = ape.footer + kApeHeaderSize;
    }
    if (mp3->v1) {
        const size_t field = *mp3->v1 + kV1CommentAt, room = V1Room(file, *mp3->v1);
        const std::string_view value = file.substr(field, room);
        read.v1 = std::string(value.substr(0, value.find('\0')));
        read.rest.append(file.substr(at, field - at));
        at = field + room;
    }
    read.rest.append(file.substr(at));
    return read;
}

std::optional<Id3v2Comment> Id3v2ReadComment(std::string_view tag) {
    const std::optional<Tag> parsed = ParseTag(tag);
    Id3v2Comment read;
    if (!parsed || !ReadTag(*parsed, read.comment, read.rest)) return std::nullopt;
    return read;
}

bool Id3v2PutComment(Pieces& out, std::string_view tag, std::string_view text) {
    std::optional<Tag> parsed;
    if (!tag.empty() && !(parsed = ParseTag(tag))) return false;
    return !PutComment(out, parsed, text);
}

}  // namespace kes
