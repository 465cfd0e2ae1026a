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

void AddComment(Pieces& out, std::string_view comment) {
    for (const std::string_view part : SplitComment(comment)) {
        out.push_back('\xFF');
        out.push_back(static_cast<char>(kCom));
        PutBe16(out, part.size() + 2);
        out.Add(part);
    }
}

}  // namespace

Rewrite JpegSetComment(std::string_view image, std::string_view comment) {
    const std::optional<std::vector<Segment>> segments = Parse(image);
    if (!segments) return std::nullopt;
    Pieces out;
    out.Keep(image.substr(0, 2));
    bool placed = false;
    for (const Segment& p : *segments) {
        if (p.marker == kCom) continue;
        if (!placed && !IsApp(p.marker)) {
            AddComment(out, comment);
            placed = true;
        }
        out.Keep(image.substr(p.begin, p.end - p.begin));
    }
    out.Keep(image.substr(segments->back().end));
    return out;
}

std::optional<std::string> JpegReadComment(std::string_view image) {
    const std::optional<std::vector<Segment>> segments = Parse(image);
    if (!segments) return std::nullopt;
    std::string comment;
    for (const Segment& p : *segments) {
        if (p.marker == kCom) comment.append(image.substr(p.payload, p.end - p.payload));
    }
    return comment;
}

}  // namespace kes
