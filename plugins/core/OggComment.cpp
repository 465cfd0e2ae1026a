#include "OggComment.h"

#include <array>

#include "Text.h"

namespace kes {
namespace {

constexpr std::string_view kCapture = "OggS";
constexpr size_t kPageHeaderSize = 27, kChecksumAt = 22, kSequenceAt = 18;
constexpr uint8_t kContinued = 1, kFirstPage = 2, kLastPage = 4;
constexpr size_t kMaxSegments = 255, kMaxLacing = 255;
constexpr uint64_t kNoGranule = ~uint64_t{0};

struct Page {
    size_t begin, end;
    uint8_t flags;
    uint32_t serial, sequence;
    std::string_view lacing;  // the segment table
    std::string_view body;
};

// The header packets of a codec: how many there are and how each starts.
struct Codec {
    size_t headers;
    std::string_view magic[3];
};
constexpr Codec kVorbis{3, {std::string_view("\x01vorbis", 7), std::string_view("\x03vorbis", 7),
                            std::string_view("\x05vorbis", 7)}};
constexpr Codec kOpus{2, {"OpusHead", "OpusTags", ""}};

struct Stream {
    const Codec* codec;
    std::vector<Page> pages;  // from the first to its last page, or to the end of the file
    size_t headerPages;       // how many of them carry the header packets
    std::vector<std::string> packets;  // the header packets
    // Where the last header packet ends on its page, in segments and bytes:
    // audio packets after it share that page.
    size_t sharedLacing, sharedBody;
    size_t end;               // where its pages end; a chained stream may follow
};

std::optional<Page> ReadPage(std::string_view s, size_t at) {
    if (!HasAt(s, at, kCapture) || s.size() - at < kPageHeaderSize || Byte(s, at + 4) != 0) return std::nullopt;
    const size_t segments = Byte(s, at + 26);
    if (s.size() - at - kPageHeaderSize < segments) return std::nullopt;
    const std::string_view lacing = s.substr(at + kPageHeaderSize, segments);
    size_t bodySize = 0;
    for (char c : lacing) bodySize += static_cast<uint8_t>(c);
    const size_t bodyAt = at + kPageHeaderSize + segments;
    if (s.size() - bodyAt < bodySize) return std::nullopt;
    uint32_t crc = OggCrc(0, s.substr(at, kChecksumAt));
    crc = OggCrc(crc, std::string_view("\0\0\0\0", 4));
    crc = OggCrc(crc, s.substr(at + kChecksumAt + 4, bodyAt + bodySize - at - kChecksumAt - 4));
    if (crc != Le32(s, at + kChecksumAt)) return std::nullopt;
    return Page{at, bodyAt + bodySize, Byte(s, at + 5), Le32(s, at + 14), Le32(s, at + kSequenceAt), lacing,
                s.substr(bodyAt, bodySize)};
}

// After the first stream come chained streams, every page whole and
// intact, and perhaps bytes that are no page (zeros from a download or a
// copy), which stay as they are: after a stream's last page only, since
// anywhere else they are a page whose capture pattern was damaged. A
// capture pattern among them is a page cut short or damaged.
bool RestIntact(std::string_view s, size_t at, bool ended) {
    for (std::optional<Page> page = ReadPage(s, at); page; page = ReadPage(s, at)) {
        at = page->end;
        ended = page->flags & kLastPage;
    }
    return at == s.size() || (ended && s.find(kCapture, at) == std::string_view::npos);
}

// Gathers the header packets from the first pages. The first packet is
// alone on the first page, and the last one ends its page: audio starts on
// a fresh page, which is what lets the header pages be laid anew alone.
// Older Vorbis encoders put the first audio packets on the last header
// page; those are laid on a page of their own.
bool ReadHeaders(Stream& stream) {
    std::string packet;
    bool open = false;  // a packet continues onto the next page
    for (size_t i = 0; i < stream.pages.size(); ++i) {
        const Page& page = stream.pages[i];
        // The segment table tells where packets end; the continued flag
        // only repeats it. Some writers leave the flag off a page that
        // carries on a packet (often one whose closing segment of 0 bytes
        // is all there is), and Ogg's own library reads on into that page
        // all the same, but only into the page that directly follows: after
        // a gap it drops the open packet. A page that says it carries on
        // where no packet is open loses its first segments to that library.
        const bool continued = page.flags & kContinued;
        if ((continued && !open) || (open && !continued && page.sequence != stream.pages[i - 1].sequence + 1) ||
            ((page.flags & kFirstPage) != 0) != (i == 0))
            return false;
        size_t at = 0;
        for (size_t k = 0; k < page.lacing.size(); ++k) {
            const size_t length = static_cast<uint8_t>(page.lacing[k]);
            packet.append(page.body.substr(at, length));
            at += length;
            open = length == kMaxLacing;
            if (open) continue;
            if (stream.packets.empty()) {
                stream.codec = HasAt(packet, 0, kVorbis.magic[0]) ? &kVorbis
                               : HasAt(packet, 0, kOpus.magic[0]) ? &kOpus
                                                                  : nullptr;
                if (!stream.codec || i != 0 || k + 1 != page.lacing.size()) return false;
            }
            const size_t n = stream.packets.size();
            if (!HasAt(packet, 0, stream.codec->magic[n])) return false;
            stream.packets.push_back(std::move(packet));
            packet.clear();
            if (stream.packets.size() == stream.codec->headers) {
                stream.headerPages = i + 1;
                stream.sharedLacing = k + 1;
                stream.sharedBody = at;
                return k + 1 == page.lacing.size() || stream.codec == &kVorbis;
            }
        }
        if (stream.packets.empty()) return false;  // the first packet did not end on the first page
    }
    return false;
}

std::optional<Stream> Parse(std::string_view s) {
    Stream stream{};
    size_t at = 0;
    for (std::optional<Page> page = ReadPage(s, at); page; page = ReadPage(s, at)) {
        // Another stream's page before this one has ended: interleaved
        // streams, which are not laid out anew here.
        if (!stream.pages.empty() && page->serial != stream.pages[0].serial) return std::nullopt;
        stream.pages.push_back(*page);
        at = page->end;
        if (page->flags & kLastPage) break;
    }
    if (stream.pages.empty() || !ReadHeaders(stream) || !RestIntact(s, at, stream.pages.back().flags & kLastPage))
        return std::nullopt;
    for (size_t i = 0; i + 1 < stream.headerPages; ++i)
        if (stream.pages[i].flags & kLastPage) return std::nullopt;
    stream.end = at;
    return stream;
}

std::string_view Fields(const Stream& stream) {
    return std::string_view(stream.packets[1]).substr(stream.codec->magic[1].size());
}

// A page's header and segment table, its checksum taken over them and the
// body.
std::string PageHeader(uint8_t flags, uint64_t granule, uint32_t serial, uint32_t sequence,
                       std::string_view lacing, std::string_view body) {
    std::string header(kCapture);
    header += '\0';
    header += static_cast<char>(flags);
    PutLe32(header, static_cast<uint32_t>(granule));
    PutLe32(header, static_cast<uint32_t>(granule >> 32));
    PutLe32(header, serial);
    PutLe32(header, sequence);
    PutLe32(header, 0);
    header += static_cast<char>(lacing.size());
    header.append(lacing);
    const uint32_t crc = OggCrc(OggCrc(0, header), body);
    for (int i = 0; i < 4; ++i) header[kChecksumAt + i] = static_cast<char>(crc >> (8 * i) & 0xFF);
    return header;
}

// Lays packets on pages of at most 255 segments each, packet after packet
// as Ogg's own library flushes its header packets, and returns how many
// pages it made. A page on which a packet ends has the granule position 0
// (no audio yet); one that only carries part of a packet has none.
size_t PutHeaderPages(Pieces& out, const std::vector<std::string_view>& packets, uint32_t serial,
                      uint32_t sequence, bool lastOfStream) {
    struct Laid {
        std::string lacing, body;
        bool continued, ended;
    };
    std::vector<Laid> pages(1, Laid{"", "", false, false});
    for (std::string_view packet : packets) {
        for (size_t at = 0;;) {
            if (pages.back().lacing.size() == kMaxSegments) pages.push_back({"", "", at != 0, false});
            const size_t length = std::min(kMaxLacing, packet.size() - at);
            pages.back().lacing += static_cast<char>(length);
            pages.back().body.append(packet.substr(at, length));
            at += length;
            if (length < kMaxLacing) {
                pages.back().ended = true;
                break;
            }
        }
    }
    for (size_t i = 0; i < pages.size(); ++i) {
        const Laid& p = pages[i];
        const uint8_t flags = (p.continued ? kContinued : 0) | (lastOfStream && i + 1 == pages.size() ? kLastPage : 0);
        out.Add(PageHeader(flags, p.ended ? 0 : kNoGranule, serial, sequence + static_cast<uint32_t>(i), p.lacing, p.body));
        out.Add(p.body);
    }
    return pages.size();
}

uint64_t Granule(std::string_view s, const Page& p) { return Le64(s, p.begin + 6); }

// A page after the header pages as the new file holds it. Audio packets
// that shared the last header page get a page of their own (`page` null):
// not continued, the last of the stream if that page was, and with its
// granule position where a packet ends on it. Its sequence number and
// place count as that page's.
struct Later {
    const Page* page;
    uint8_t flags;
    uint64_t granule;
    uint32_t sequence;
    size_t index;  // among the stream's pages
    std::string_view lacing, body;
};

std::vector<Later> LaterPages(std::string_view s, const Stream& stream) {
    std::vector<Later> later;
    const size_t last = stream.headerPages - 1;
    const Page& shared = stream.pages[last];
    if (stream.sharedLacing < shared.lacing.size()) {
        const std::string_view lacing = shared.lacing.substr(stream.sharedLacing);
        const bool ends = lacing.find_first_not_of(static_cast<char>(kMaxLacing)) != std::string_view::npos;
        later.push_back({nullptr, static_cast<uint8_t>(shared.flags & kLastPage), ends ? Granule(s, shared) : kNoGranule,
                         shared.sequence, last, lacing, shared.body.substr(stream.sharedBody)});
    }
    for (size_t i = stream.headerPages; i < stream.pages.size(); ++i) {
        const Page& p = stream.pages[i];
        later.push_back({&p, p.flags, Granule(s, p), p.sequence, i, p.lacing, p.body});
    }
    return later;
}

bool Shared(const Stream& stream) {
    return stream.sharedLacing < stream.pages[stream.headerPages - 1].lacing.size();
}

}  // namespace

uint32_t OggCrc(uint32_t crc, std::string_view bytes) {
    static const std::array<uint32_t, 256> kTable = [] {
        std::array<uint32_t, 256> table{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t r = i << 24;
            for (int k = 0; k < 8; ++k) r = r & 0x80000000u ? r << 1 ^ 0x04C11DB7u : r << 1;
            table[i] = r;
        }
        return table;
    }();
    for (char c : bytes) crc = crc << 8 ^ kTable[(crc >> 24 ^ static_cast<uint8_t>(c)) & 0xFF];
    return crc;
}

Rewrite OggSetComment(std::string_view file, std::string_view utf8) {
    const std::optional<std::string> text = UnicodeComment(utf8);
    if (!text) return std::nullopt;
    const std::optional<Stream> stream = Parse(file);
    if (!stream) return std::nullopt;
    const std::optional<VorbisFields> fields = ParseVorbisFields(Fields(*stream));
    if (!fields) return std::nullopt;
    const std::optional<std::string> body = WithComment(*fields, *text);
    if (!body) return Rewrite::CommentTooLong();
    const std::string comment = std::string(stream->codec->magic[1]) + *body;

    Pieces out;
    if (comment == stream->packets[1]) {
        out.Keep(file);
        return out;
    }
    const Page& first = stream->pages[0];
    out.Keep(file.substr(0, first.end));
    std::vector<std::string_view> packets(stream->packets.begin() + 1, stream->packets.end());
    packets[0] = comment;
    const bool shared = Shared(*stream);
    const bool last = !shared && (stream->pages[stream->headerPages - 1].flags & kLastPage);
    const size_t laid = PutHeaderPages(out, packets, first.serial, first.sequence + 1, last);
    // The later pages keep everything but their sequence number, and so
    // their checksum.
    const uint32_t shift = static_cast<uint32_t>(laid + 1 + shared - stream->headerPages);
    for (const Later& p : LaterPages(file, *stream)) {
        if (shift == 0 && p.page) {
            out.Keep(file.substr(p.page->begin, p.page->end - p.page->begin));
            continue;
        }
        out.Add(PageHeader(p.flags, p.granule, first.serial, p.sequence + shift, p.lacing, p.body));
        out.Keep(p.body);
    }
    out.Keep(file.substr(stream->end));
    return out;
}

std::optional<CommentAndRest> OggRead(std::string_view file) {
    const std::optional<Stream> stream = Parse(file);
    if (!stream) return std::nullopt;
    const std::optional<VorbisFields> fields = ParseVorbisFields(Fields(*stream));
    if (!fields) return std::nullopt;
    CommentAndRest read{CommentValues(*fields), OtherFields(*fields)};
    for (size_t i = 0; i < stream->packets.size(); ++i)
        if (i != 1) read.rest += stream->packets[i];
    read.rest += static_cast<char>(Shared(*stream) ? 0 : stream->pages[stream->headerPages - 1].flags & kLastPage);
    for (const Later& p : LaterPages(file, *stream)) {
        std::string page = PageHeader(p.flags, p.granule, stream->pages[0].serial,
                                      p.sequence - static_cast<uint32_t>(p.index), p.lacing, p.body);
        page.replace(kChecksumAt, 4, 4, '\0');
        read.rest += page;
        read.rest.append(p.body);
    }
    read.rest.append(file.substr(stream->end));
    return read;
}

}  // namespace kes
