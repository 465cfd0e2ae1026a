#include "JpegComment.h"

#include <algorithm>
#include <iterator>
#include <set>
#include <vector>

#include "Text.h"

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
// Out is a std::string or Pieces.
template <class Out>
void PutU16(Out& out, uint16_t value, bool big) {
    if (big) {
        PutBe16(out, value);
    } else {
        PutLe16(out, value);
    }
}
template <class Out>
void PutU32(Out& out, uint32_t value, bool big) {
    if (big) {
        PutBe32(out, value);
    } else {
        PutLe32(out, value);
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


// XPComment, the comment Windows shows for a photo: a tag of the Exif
// segment's first IFD (IFD0) whose BYTE value is the text in UTF-16LE,
// NUL-ended, in either byte order of the TIFF data around it. Its entry is
// edited where it stands; an IFD0 that needs one more entry is written
// anew after the TIFF data and the header pointed at it, so that no other
// structure moves and every offset into the data (the Exif and GPS IFDs,
// the thumbnail, maker notes, which may hold offsets of their own) stays
// right.
constexpr std::string_view kExifTag("Exif\0", 5);
constexpr size_t kExifHeader = 6;  // "Exif" and two NULs before the TIFF data
constexpr uint8_t kApp0 = 0xE0, kApp1 = 0xE1;
constexpr uint16_t kTagXpComment = 0x9C9C, kTypeByte = 1;
constexpr size_t kIfdEntrySize = 12, kInline = 4;

// Bytes per value of each TIFF type; 0 for a type this code does not know,
// whose entry is copied without a look at its value.
uint64_t TypeSize(uint16_t type) {
    static const uint8_t kSizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    return type < std::size(kSizes) ? kSizes[type] : 0;
}

// The TIFF data of an Exif segment: where it begins in the file, its bytes.
struct Tiff {
    size_t begin;
    std::string_view data;
    bool big;
};

// IFD0 as the edit needs it. Its entries are checked to lie in the data,
// and the IFDs chained after it to end without a loop.
struct Ifd0 {
    uint32_t offset;
    size_t count;
    std::optional<size_t> xp;  // which entry is XPComment
    size_t insertAt;           // where a new entry keeps the tags in order
};

size_t EntryAt(const Ifd0& ifd, size_t i) { return ifd.offset + 2 + i * kIfdEntrySize; }

std::optional<Ifd0> ReadIfd0(const Tiff& t) {
    const std::string_view d = t.data;
    Ifd0 ifd{U32(d, 4, t.big), 0, std::nullopt, 0};
    if (ifd.offset == 0) return std::nullopt;
    std::set<uint64_t> seen;
    for (uint64_t at = ifd.offset; at != 0; at = U32(d, at + 2 + U16(d, at, t.big) * kIfdEntrySize, t.big)) {
        if (at < 8 || at + 2 > d.size() || !seen.insert(at).second) return std::nullopt;
        if (at + 2 + U16(d, at, t.big) * kIfdEntrySize + 4 > d.size()) return std::nullopt;
    }
    ifd.count = U16(d, ifd.offset, t.big);
    ifd.insertAt = ifd.count;
    for (size_t i = 0; i < ifd.count; ++i) {
        const size_t entry = EntryAt(ifd, i);
        const uint16_t tag = U16(d, entry, t.big), type = U16(d, entry + 2, t.big);
        const uint64_t size = TypeSize(type) * U32(d, entry + 4, t.big);
        if (size > kInline && U32(d, entry + 8, t.big) + size > d.size()) return std::nullopt;
        if (tag == kTagXpComment) {
            // Two would leave a reader to pick one; text of odd length is no UTF-16.
            if (ifd.xp || (type != kTypeByte && type != kTypeUndefined) || size % 2 != 0) return std::nullopt;
            ifd.xp = i;
        }
        if (tag > kTagXpComment && ifd.insertAt == ifd.count) ifd.insertAt = i;
    }
    // A new value is written over the old one: that must not damage the
    // header or IFD0 itself.
    if (ifd.xp) {
        const size_t entry = EntryAt(ifd, *ifd.xp);
        const uint64_t count = U32(d, entry + 4, t.big), at = U32(d, entry + 8, t.big);
        if (count > kInline && (at < 8 || (at < EntryAt(ifd, ifd.count) + 4 && at + count > ifd.offset)))
            return std::nullopt;
    }
    return ifd;
}

// The first APP1 segment that holds Exif, if any.
const Segment* FindExif(std::string_view s, const std::vector<Segment>& segments) {
    for (const Segment& p : segments) {
        if (p.marker == kApp1 && HasAt(s.substr(0, p.end), p.payload, kExifTag)) return &p;
    }
    return nullptr;
}

// The TIFF data of an Exif segment and its IFD0; nothing when either
// cannot be read exactly.
std::optional<std::pair<Tiff, Ifd0>> ReadExif(std::string_view s, const Segment& p) {
    if (p.end - p.payload < kExifHeader + 8) return std::nullopt;
    const Tiff t{p.payload + kExifHeader, s.substr(p.payload + kExifHeader, p.end - p.payload - kExifHeader),
                 Byte(s, p.payload + kExifHeader) == 'M'};
    if (!HasAt(t.data, 0, t.big ? std::string_view("MM\0*", 4) : std::string_view("II*\0", 4))) return std::nullopt;
    std::optional<Ifd0> ifd = ReadIfd0(t);
    if (!ifd) return std::nullopt;
    return std::make_pair(t, *ifd);
}

// The XPComment entry's value bytes.
std::string_view XpValue(const Tiff& t, const Ifd0& ifd) {
    const size_t entry = EntryAt(ifd, *ifd.xp);
    const uint32_t count = U32(t.data, entry + 4, t.big);
    return t.data.substr(count <= kInline ? entry + 8 : U32(t.data, entry + 8, t.big), count);
}

// XPComment's text in UTF-8, up to its NUL; a lone surrogate, which no
// character is, reads as U+FFFD so that a damaged comment still shows.
std::string XpText(std::string_view value) {
    size_t end = 0;
    while (end + 1 < value.size() && Le16(value, end) != 0) end += 2;
    return Utf16ToUtf8(value.substr(0, end), false);
}

// The comment as XPComment's value: UTF-16LE, NUL-ended whatever the byte
// order around it. Nothing for text that is no UTF-8 or holds a NUL.
std::optional<std::string> XpValueOf(std::string_view utf8) {
    const std::optional<std::vector<uint32_t>> text = DecodeUtf8(utf8);
    if (!text || std::find(text->begin(), text->end(), 0u) != text->end()) return std::nullopt;
    std::string value;
    for (uint32_t c : *text) PutUtf16Le(value, c);
    PutLe16(value, 0);
    return value;
}

// The changes to an Exif segment's TIFF data: bytes written over it at
// offsets from its start, in order and apart, and bytes after it.
struct ExifEdit {
    std::vector<std::pair<size_t, std::string>> patches;
    std::string tail;
};

// An IFD entry of XPComment whose value, when it does not fit in the
// entry, stands at `valueAt`.
std::string XpEntry(const std::string& value, uint32_t valueAt, bool big) {
    std::string entry;
    PutU16(entry, kTagXpComment, big);
    PutU16(entry, kTypeByte, big);
    PutU32(entry, static_cast<uint32_t>(value.size()), big);
    if (value.size() <= kInline) {
        entry += value + std::string(kInline - value.size(), '\0');
    } else {
        PutU32(entry, valueAt, big);
    }
    return entry;
}

// Where bytes appended after the TIFF data begin: on an even offset, as
// the format asks of IFDs and values.
size_t TailStart(const Tiff& t, const ExifEdit& edit) { return t.data.size() + edit.tail.size(); }
void AlignTail(const Tiff& t, ExifEdit& edit) {
    if (TailStart(t, edit) % 2 != 0) edit.tail += '\0';
}

// Sets XPComment to `value`, or takes it out for none. A new value that
// fits where the old one stood goes there, so that writing the same
// comment again changes nothing and rewriting does not grow the segment.
ExifEdit EditXp(const Tiff& t, const Ifd0& ifd, const std::optional<std::string>& value) {
    ExifEdit edit;
    const std::string_view d = t.data;
    if (ifd.xp && !value) {  // the entries after it move up; the old last slot is cleared
        std::string entries;
        PutU16(entries, static_cast<uint16_t>(ifd.count - 1), t.big);
        entries += d.substr(EntryAt(ifd, 0), *ifd.xp * kIfdEntrySize);
        entries += d.substr(EntryAt(ifd, *ifd.xp + 1), (ifd.count - *ifd.xp - 1) * kIfdEntrySize + 4);
        entries += std::string(kIfdEntrySize, '\0');
        edit.patches.push_back({ifd.offset, entries});
    } else if (ifd.xp && value) {
        const std::string_view old = XpValue(t, ifd);
        size_t valueAt = old.data() - d.data();
        if (value->size() > kInline && (old.size() <= kInline || value->size() > old.size())) {
            AlignTail(t, edit);
            valueAt = TailStart(t, edit);
            edit.tail += *value;
        }
        edit.patches.push_back({EntryAt(ifd, *ifd.xp), XpEntry(*value, static_cast<uint32_t>(valueAt), t.big)});
        if (value->size() > kInline && valueAt < d.size()) edit.patches.push_back({valueAt, *value});
        std::sort(edit.patches.begin(), edit.patches.end());
    } else if (value) {  // a new IFD0 with one more entry, after the data
        AlignTail(t, edit);
        const size_t newIfd = TailStart(t, edit);
        const size_t valueAt = newIfd + 2 + (ifd.count + 1) * kIfdEntrySize + 4;
        std::string header;
        PutU32(header, static_cast<uint32_t>(newIfd), t.big);
        edit.patches.push_back({4, header});
        PutU16(edit.tail, static_cast<uint16_t>(ifd.count + 1), t.big);
        edit.tail += d.substr(EntryAt(ifd, 0), ifd.insertAt * kIfdEntrySize);
        edit.tail += XpEntry(*value, static_cast<uint32_t>(valueAt), t.big);
        edit.tail += d.substr(EntryAt(ifd, ifd.insertAt), (ifd.count - ifd.insertAt) * kIfdEntrySize + 4);
        if (value->size() > kInline) edit.tail += *value;
    }
    return edit;
}

// A whole Exif segment holding only XPComment, for a file that has none.
std::string NewExifSegment(const std::string& value) {
    std::string tiff("II*\0\x08\0\0\0", 8);
    PutLe16(tiff, 1);
    tiff += XpEntry(value, 8 + 2 + kIfdEntrySize + 4, false);
    PutLe32(tiff, 0);
    if (value.size() > kInline) tiff += value;
    std::string segment("\xFF\xE1", 2);
    PutBe16(segment, 2 + kExifHeader + tiff.size());
    return segment + std::string("Exif\0\0", kExifHeader) + tiff;
}

// The Exif segment after an edit, as pieces of the old one and new bytes.
void AddEditedExif(Pieces& out, std::string_view s, const Segment& p, const Tiff& t, const ExifEdit& edit) {
    out.Keep(s.substr(p.begin, p.payload - 2 - p.begin));  // fill bytes and marker
    PutBe16(out, p.end - p.payload + 2 + edit.tail.size());
    out.Keep(s.substr(p.payload, kExifHeader));
    size_t at = 0;
    for (const auto& [where, bytes] : edit.patches) {
        out.Keep(t.data.substr(at, where - at));
        out.Add(bytes);
        at = where + bytes.size();
    }
    out.Keep(t.data.substr(at));
    out.Add(edit.tail);
}

// How XPComment changes: in the file's Exif segment, or as a new one.
struct XpChange {
    const Segment* exif = nullptr;
    std::optional<Tiff> tiff;
    ExifEdit edit;
    std::string newSegment;  // when the file has no Exif segment
    bool drop = false;       // the segment held XPComment alone
    int64_t growth = 0;
};


// XPComment's change to `value`, none taking it out; nothing when the
// Exif segment cannot be edited exactly.
std::optional<XpChange> PlanXp(std::string_view s, const std::vector<Segment>& segments,
                               const std::optional<std::string>& value) {
    XpChange change;
    change.exif = FindExif(s, segments);
    if (!change.exif) {
        if (value) change.newSegment = NewExifSegment(*value);
        change.growth = static_cast<int64_t>(change.newSegment.size());
        return change;
    }
    const std::optional<std::pair<Tiff, Ifd0>> exif = ReadExif(s, *change.exif);
    if (!exif) return std::nullopt;
    change.tiff = exif->first;
    // A segment that holds XPComment alone (as this code makes it for a
    // file without Exif) goes with it: nothing else in it can be reached,
    // and taking the comment out gives back the file as it was.
    const Segment& p = *change.exif;
    const Ifd0& ifd = exif->second;
    if (!value && ifd.xp && ifd.count == 1 && U32(exif->first.data, EntryAt(ifd, 1), exif->first.big) == 0) {
        change.drop = true;
        change.growth = -static_cast<int64_t>(p.end - p.begin);
        return change;
    }
    change.edit = EditXp(exif->first, exif->second, value);
    change.growth = static_cast<int64_t>(change.edit.tail.size());
    return change;
}

bool FitsOneSegment(const XpChange& xp) {
    const size_t payload = xp.exif ? xp.exif->end - xp.exif->payload + xp.edit.tail.size()
                                   : xp.newSegment.size() - std::min<size_t>(xp.newSegment.size(), 4);
    return payload <= kMaxPayload;
}

}  // namespace

Rewrite JpegSetComments(std::string_view image, std::optional<std::string_view> segment,
                        std::optional<std::string_view> xpComment) {
    const std::optional<Layout> layout = Read(image);
    if (!layout) return std::nullopt;
    std::optional<XpChange> xp;
    if (xpComment) {
        std::optional<std::string> value;
        if (!xpComment->empty() && !(value = XpValueOf(*xpComment))) return std::nullopt;
        xp = PlanXp(image, layout->segments, value);
        if (!xp) return std::nullopt;
        if (!FitsOneSegment(*xp)) return Rewrite::CommentTooLong();
    }
    const std::vector<std::string_view> parts = segment ? SplitComment(*segment) : std::vector<std::string_view>();
    // How much longer the first image gets: the new segments, less the old.
    int64_t growth = xp ? xp->growth : 0;
    if (segment) {
        growth += static_cast<int64_t>(segment->size() + 4 * parts.size());
        for (const Segment& p : layout->segments) {
            if (p.marker == kCom) growth -= static_cast<int64_t>(p.end - p.begin);
        }
    }
    Pieces out;
    out.Keep(image.substr(0, 2));
    bool placed = !segment, exifPlaced = !xp || xp->exif;
    for (const Segment& p : layout->segments) {
        if (segment && p.marker == kCom) continue;
        if (!exifPlaced && p.marker != kApp0) {  // after the JFIF header, if any
            out.Add(xp->newSegment);
            exifPlaced = true;
        }
        if (!placed && !IsApp(p.marker)) {
            AddComment(out, parts);
            placed = true;
        }
        if (xp && &p == xp->exif) {
            if (!xp->drop) AddEditedExif(out, image, p, *xp->tiff, xp->edit);
        } else if (layout->mp && p.begin == layout->mp->segment) {
            if (!AddMovedIndex(out, image, p, *layout->mp, growth)) return std::nullopt;
        } else {
            out.Keep(image.substr(p.begin, p.end - p.begin));
        }
    }
    out.Keep(image.substr(layout->segments.back().end));
    return out;
}

Rewrite JpegSetComment(std::string_view image, std::string_view comment) {
    return JpegSetComments(image, comment, std::nullopt);
}

std::optional<std::string> JpegReadXpComment(std::string_view image) {
    const std::optional<Layout> layout = Read(image);
    if (!layout) return std::nullopt;
    const Segment* segment = FindExif(image, layout->segments);
    if (!segment) return std::string();
    const std::optional<std::pair<Tiff, Ifd0>> exif = ReadExif(image, *segment);
    if (!exif) return std::nullopt;
    if (!exif->second.xp) return std::string();
    return XpText(XpValue(exif->first, exif->second));
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
