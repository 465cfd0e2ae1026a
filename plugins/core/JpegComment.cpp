#include "JpegComment.h"

#include <algorithm>
#include <vector>

namespace kes {
namespace {

constexpr uint8_t kSoi = 0xD8, kEoi = 0xD9, kSos = 0xDA, kCom = 0xFE;
constexpr size_t kMaxPayload = 0xFFFF - 2;  // the length field counts itself

// One marker with its fill bytes, its segment and, for SOS, the entropy-coded
// data after it: the unit that is either copied whole or dropped.
struct Segment {
    size_t begin, end;
    uint8_t marker;
    size_t payload;  // where the segment's data starts, after its length
};

bool IsApp(uint8_t m) { return m >= 0xE0 && m <= 0xEF; }
bool Standalone(uint8_t m) { return m == 0x01 || (m >= 0xD0 && m <= 0xD7); }
// SOF0 to SOF15 except DHT, JPG and DAC, which share the range.
bool IsFrame(uint8_t m) { return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC; }

// Entropy-coded data runs until a marker other than a stuffed zero or a
// restart marker. Returns where that marker's first 0xFF stands, or nothing
// when the file ends first.
std::optional<size_t> SkipScan(std::string_view s, size_t at) {
    while (at < s.size()) {
        if (Byte(s, at) != 0xFF) {
            ++at;
            continue;
        }
        if (at + 1 >= s.size()) return std::nullopt;
        const uint8_t next = Byte(s, at + 1);
        if (next == 0xFF) {
            ++at;  // fill byte before a marker
        } else if (next == 0x00 || (next >= 0xD0 && next <= 0xD7)) {
            at += 2;
        } else {
            return at;
        }
    }
    return std::nullopt;
}

// Splits the file from SOI to EOI into segments; bytes after EOI are left to
// the caller. Nothing when anything is missing or runs past the end.
std::optional<std::vector<Segment>> Parse(std::string_view s) {
    if (s.size() < 2 || Byte(s, 0) != 0xFF || Byte(s, 1) != kSoi) return std::nullopt;
    std::vector<Segment> segments;
    bool frame = false, scan = false;
    size_t at = 2;
    for (;;) {
        if (at >= s.size() || Byte(s, at) != 0xFF) return std::nullopt;
        size_t m = at;
        while (m < s.size() && Byte(s, m) == 0xFF) ++m;
        if (m >= s.size()) return std::nullopt;
        const uint8_t marker = Byte(s, m);
        size_t end = m + 1;
        size_t payload = end;
        if (marker == kEoi) {
            segments.push_back({at, end, marker, end});
            break;
        }
        if (marker == kSoi || marker == 0x00) return std::nullopt;
        if (!Standalone(marker)) {
            if (s.size() - end < 2) return std::nullopt;
            const size_t length = Be16(s, end);
            if (length < 2 || s.size() - end < length) return std::nullopt;
            payload = end + 2;
            end += length;
        }
        if (IsFrame(marker)) frame = true;
        if (marker == kSos) {
            if (!frame) return std::nullopt;
            scan = true;
            const std::optional<size_t> next = SkipScan(s, end);
            if (!next) return std::nullopt;
            end = *next;
        }
        segments.push_back({at, end, marker, payload});
        at = end;
    }
    if (!scan) return std::nullopt;
    return segments;
}

// Shift_JIS lead bytes: the first byte of a double-byte character.
bool IsShiftJisLead(uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// The comment in parts of at most one segment's payload each. A part ends
// only between characters: a reader that shows each segment on its own
// would otherwise show the halves of a character cut in two as garbage.
std::vector<std::string_view> SplitComment(std::string_view comment) {
    std::vector<std::string_view> parts;
    size_t begin = 0;
    for (size_t at = 0; at < comment.size();) {
        const size_t width = IsShiftJisLead(Byte(comment, at)) && at + 1 < comment.size() ? 2 : 1;
        if (at + width - begin > kMaxPayload) {
            parts.push_back(comment.substr(begin, at - begin));
            begin = at;
        }
        at += width;
    }
    if (begin < comment.size()) parts.push_back(comment.substr(begin));
    return parts;
}

// The multi-picture index that cameras put in an APP2 segment of the first
// image: one 16-byte entry per picture (attribute, size, offset, two entry
// numbers), the later pictures being stored after the first image's EOI
// and located by their offset from the index's header. A comment changes
// the first image's length and so moves them: their entries must follow.
struct MpIndex {
    size_t segment;  // where its APP2 segment begins
    size_t header;   // its header (the byte order mark), which offsets count from
    size_t entries;  // its first entry
    size_t count;
    bool bigEndian;
};

constexpr std::string_view kMpfTag("MPF\0", 4);
constexpr uint8_t kApp2 = 0xE2;
constexpr size_t kMpEntrySize = 16;
constexpr uint16_t kTagNumberOfImages = 0xB001, kTagMpEntry = 0xB002;
constexpr uint16_t kTypeLong = 4, kTypeUndefined = 7;

uint16_t U16(std::string_view s, size_t at, bool big) { return big ? Be16(s, at) : Le16(s, at); }
uint32_t U32(std::string_view s, size_t at, bool big) { return big ? Be32(s, at) : Le32(s, at); }
void PutU32(Pieces& out, uint32_t value, bool big) {
    if (big) {
        PutBe32(out, value);
    } else {
        PutLe16(out, value & 0xFFFF);
        PutLe16(out, value >> 16);
    }
}

// The entry fields that move; the attribute and the entry numbers stay.
uint32_t EntrySize(std::string_view s, const MpIndex& mp, size_t i) {
    return U32(s, mp.entries + i * kMpEntrySize + 4, mp.bigEndian);
}
uint32_t EntryOffset(std::string_view s, const MpIndex& mp, size_t i) {
    return U32(s, mp.entries + i * kMpEntrySize + 8, mp.bigEndian);
}

// Reads the index of an APP2 "MPF" segment; nothing when any part of it
// lies outside the segment or is not as the format lays it down.
std::optional<MpIndex> ReadMpIndex(std::string_view s, const Segment& p) {
    const std::string_view segment = s.substr(0, p.end);  // nothing is read past it
    const size_t header = p.payload + kMpfTag.size();
    bool big;
    if (HasAt(segment, header, std::string_view("II*\0", 4))) big = false;
    else if (HasAt(segment, header, std::string_view("MM\0*", 4))) big = true;
    else return std::nullopt;
    // True when `length` bytes at `offset` from the header lie in the segment.
    const auto within = [&](uint64_t offset, uint64_t length) { return header + offset + length <= p.end; };
    if (!within(4, 4)) return std::nullopt;
    const uint64_t ifd = U32(s, header + 4, big);
    if (!within(ifd, 2)) return std::nullopt;
    const size_t fields = U16(s, header + ifd, big);
    if (!within(ifd + 2, 12 * fields)) return std::nullopt;
    std::optional<uint32_t> images, entriesLength, entriesOffset;
    for (size_t i = 0; i < fields; ++i) {
        const size_t at = header + ifd + 2 + 12 * i;
        const uint16_t tag = U16(s, at, big), type = U16(s, at + 2, big);
        const uint32_t count = U32(s, at + 4, big), value = U32(s, at + 8, big);
        if (tag == kTagNumberOfImages) {
            if (images || type != kTypeLong || count != 1) return std::nullopt;
            images = value;
        } else if (tag == kTagMpEntry) {
            if (entriesLength || type != kTypeUndefined) return std::nullopt;
            entriesLength = count;
            entriesOffset = value;
        }
    }
    if (!images || *images == 0 || !entriesLength || *entriesLength != uint64_t{*images} * kMpEntrySize ||
        !within(*entriesOffset, *entriesLength))
        return std::nullopt;
    return MpIndex{p.begin, header, header + *entriesOffset, *images, big};
}

// The index must describe this file: the first entry is the first image
// itself, from SOI to EOI; every other picture lies whole after it. Some
// phones that store an HDR gain map overstate the first picture's size
// while the later offsets are right: their index is trusted where every
// later picture begins with its start marker where the index says, and
// the size stays off by as much.
bool DescribesFile(std::string_view s, const MpIndex& mp, size_t firstImageEnd) {
    const uint32_t firstSize = EntrySize(s, mp, 0);
    const bool overstated = firstSize > firstImageEnd && mp.count > 1;
    if (EntryOffset(s, mp, 0) != 0 || (firstSize != firstImageEnd && !overstated)) return false;
    for (size_t i = 1; i < mp.count; ++i) {
        const uint64_t begin = uint64_t{mp.header} + EntryOffset(s, mp, i);
        if (EntryOffset(s, mp, i) == 0 || begin < firstImageEnd || begin + EntrySize(s, mp, i) > s.size())
            return false;
        if (overstated && !HasAt(s, begin, std::string_view("\xFF\xD8\xFF", 3))) return false;
    }
    return true;
}

// The first image's segments and its multi-picture index, if any; nothing
// for a file that is no complete JPEG image or whose index cannot be read
// exactly, since a picture the index would lose is harm done.
struct Layout {
    std::vector<Segment> segments;
    std::optional<MpIndex> mp;
};

std::optional<Layout> Read(std::string_view s) {
    std::optional<std::vector<Segment>> segments = Parse(s);
    if (!segments) return std::nullopt;
    Layout layout{std::move(*segments), std::nullopt};
    for (const Segment& p : layout.segments) {
        if (p.marker != kApp2 || !HasAt(s.substr(0, p.end), p.payload, kMpfTag)) continue;
        if (layout.mp) return std::nullopt;  // two indexes: neither can be trusted
        layout.mp = ReadMpIndex(s, p);
        if (!layout.mp || !DescribesFile(s, *layout.mp, layout.segments.back().end)) return std::nullopt;
    }
    return layout;
}

void AddComment(Pieces& out, const std::vector<std::string_view>& parts) {
    for (const std::string_view part : parts) {
        out.push_back('\xFF');
        out.push_back(static_cast<char>(kCom));
        PutBe16(out, part.size() + 2);
        out.Add(part);
    }
}

// The index's segment with its entries for the new file: the first
// image's size grows by `growth`, and every later picture, which moves
// by as much, keeps its place relative to the header, which itself now
// stands at `newHeader`. False when a value no longer fits.
bool AddMovedIndex(Pieces& out, std::string_view s, const Segment& p, const MpIndex& mp, int64_t growth) {
    const int64_t newHeader = static_cast<int64_t>(out.size() + (mp.header - p.begin));
    const int64_t headerMove = newHeader - static_cast<int64_t>(mp.header);
    out.Keep(s.substr(p.begin, mp.entries - p.begin));
    for (size_t i = 0; i < mp.count; ++i) {
        const size_t entry = mp.entries + i * kMpEntrySize;
        const int64_t size = EntrySize(s, mp, i) + (i == 0 ? growth : 0);
        const int64_t offset = i == 0 ? 0 : EntryOffset(s, mp, i) + growth - headerMove;
        if (size < 0 || size > UINT32_MAX || offset < 0 || offset > UINT32_MAX) return false;
        out.Keep(s.substr(entry, 4));
        PutU32(out, static_cast<uint32_t>(size), mp.bigEndian);
        PutU32(out, static_cast<uint32_t>(offset), mp.bigEndian);
        out.Keep(s.substr(entry + 12, 4));
    }
    const size_t entriesEnd = mp.entries + mp.count * kMpEntrySize;
    out.Keep(s.substr(entriesEnd, p.end - entriesEnd));
    return true;
}

}  // namespace

Rewrite JpegSetComment(std::string_view image, std::string_view comment) {
    const std::optional<Layout> layout = Read(image);
    if (!layout) return std::nullopt;
    const std::vector<std::string_view> parts = SplitComment(comment);
    // How much longer the first image gets: the new segments, less the old.
    int64_t growth = static_cast<int64_t>(comment.size() + 4 * parts.size());
    for (const Segment& p : layout->segments) {
        if (p.marker == kCom) growth -= static_cast<int64_t>(p.end - p.begin);
    }
    Pieces out;
    out.Keep(image.substr(0, 2));
    bool placed = false;
    for (const Segment& p : layout->segments) {
        if (p.marker == kCom) continue;
        if (!placed && !IsApp(p.marker)) {
            AddComment(out, parts);
            placed = true;
        }
        if (layout->mp && p.begin == layout->mp->segment) {
            if (!AddMovedIndex(out, image, p, *layout->mp, growth)) return std::nullopt;
        } else {
            out.Keep(image.substr(p.begin, p.end - p.begin));
        }
    }
    out.Keep(image.substr(layout->segments.back().end));
    return out;
}

std::optional<std::string> JpegReadComment(std::string_view image) {
    const std::optional<Layout> layout = Read(image);
    if (!layout) return std::nullopt;
    std::string comment;
    for (const Segment& p : layout->segments) {
        if (p.marker == kCom) comment.append(image.substr(p.payload, p.end - p.payload));
    }
    return comment;
}

}  // namespace kes
