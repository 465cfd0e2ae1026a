#include "WavComment.h"

#include <algorithm>
#include <functional>
#include <vector>

#include "Id3v2.h"
#include "Mp3Comment.h"
#include "Text.h"

namespace kes {
namespace {

constexpr size_t kChunkHeader = 8, kRiffHeader = 12;
constexpr uint32_t kMaxSize = 0xFFFFFFFF;
constexpr std::string_view kIcmt = "ICMT", kNewId3 = "id3 ";

// A chunk: its id, its data, and all its bytes with the pad byte that
// follows data of odd size, where the file has it.
struct Chunk {
    std::string_view id, data, whole;
    bool LacksPad() const { return data.size() % 2 == 1 && whole.size() == kChunkHeader + data.size(); }
};

bool PrintableId(std::string_view id) {
    for (char c : id)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

// The chunks that fill `s` from `at` to its end. Only the last may lack
// its pad byte; nothing where a size runs past the end or an id is no
// text, which is what a walk through damaged sizes meets.
std::optional<std::vector<Chunk>> Chunks(std::string_view s, size_t at) {
    std::vector<Chunk> chunks;
    while (at < s.size()) {
        if (s.size() - at < kChunkHeader) return std::nullopt;
        const size_t size = Le32(s, at + 4);
        if (s.size() - at - kChunkHeader < size || !PrintableId(s.substr(at, 4))) return std::nullopt;
        const size_t next = std::min(s.size(), at + kChunkHeader + size + size % 2);
        chunks.push_back({s.substr(at, 4), s.substr(at + kChunkHeader, size), s.substr(at, next - at)});
        at = next;
    }
    return chunks;
}

bool IsInfo(const Chunk& c) { return c.id == "LIST" && HasAt(c.data, 0, "INFO"); }
bool IsId3(const Chunk& c) { return c.id == "id3 " || c.id == "ID3 "; }

struct Wav {
    std::vector<Chunk> chunks;
    std::optional<size_t> info, id3;  // which of the chunks they are
    std::vector<Chunk> items;          // the INFO list's
    // The RIFF size less what the chunks take: 0, or 1 or -1 where the
    // writer counted a pad byte missing at the end or left out one there.
    int64_t riffOffset = 0;
};

std::optional<Wav> Parse(std::string_view s) {
    // RF64 and BW64 keep their sizes elsewhere; both start otherwise.
    if (!HasAt(s, 0, "RIFF") || !HasAt(s, 8, "WAVE")) return std::nullopt;
    Wav wav;
    std::optional<std::vector<Chunk>> chunks = Chunks(s, kRiffHeader);
    if (!chunks || chunks->empty()) return std::nullopt;
    wav.chunks = std::move(*chunks);
    const Chunk& last = wav.chunks.back();
    wav.riffOffset = int64_t{Le32(s, 4)} - static_cast<int64_t>(s.size() - kChunkHeader);
    const bool oddLast = last.data.size() % 2 == 1;
    if (wav.riffOffset != 0 && !(wav.riffOffset == 1 && last.LacksPad()) &&
        !(wav.riffOffset == -1 && oddLast && !last.LacksPad()))
        return std::nullopt;
    size_t formats = 0, data = 0;
    for (size_t i = 0; i < wav.chunks.size(); ++i) {
        const Chunk& c = wav.chunks[i];
        formats += c.id == "fmt ";
        data += c.id == "data";
        if (c.id == "LIST" && c.data.size() < 4) return std::nullopt;
        if (IsInfo(c)) {
            std::optional<std::vector<Chunk>> items = Chunks(c.data, 4);
            if (wav.info || !items) return std::nullopt;
            wav.info = i;
            wav.items = std::move(*items);
        }
        if (IsId3(c)) {
            if (wav.id3) return std::nullopt;
            wav.id3 = i;
        }
    }
    if (formats != 1 || data != 1) return std::nullopt;
    return wav;
}

// Pieces made apart, to learn their size first, after `out`: ranges of
// the file stay references, other bytes are copied.
void Append(Pieces& out, const Pieces& more, std::string_view file) {
    const std::less_equal<const char*> before;
    more.ForEach([&](std::string_view piece) {
        if (before(file.data(), piece.data()) && before(piece.data() + piece.size(), file.data() + file.size())) {
            out.Keep(piece);
        } else {
            out.Add(piece);
        }
        return true;
    });
}

void PutHeader(Pieces& out, std::string_view id, size_t size) {
    out.Add(id);
    PutLe32(out, size);
}

void PutPad(Pieces& out, size_t size) {
    if (size % 2 == 1) out.push_back('\0');
}

// An INFO item kept as it was; one that lacks its pad byte at the end of
// its list gets it, since the rebuilt list's size counts every pad.
void KeepItem(Pieces& out, const Chunk& c) {
    out.Keep(c.whole);
    if (c.LacksPad()) out.push_back('\0');
}

// The ICMT item's text: Windows keeps text with CR LF, and shows it as it
// stands. Shift_JIS has no trail byte of the value of CR or LF.
std::string WithCrLf(std::string_view shiftJis) {
    std::string out;
    for (char c : ToLineFeeds(shiftJis)) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

// The INFO list with `icmt` in the place of its first ICMT item, or after
// its last item; none of it where it would hold nothing.
void PutInfo(Pieces& out, std::string_view file, const std::vector<Chunk>& items, std::string_view icmt) {
    Pieces list;
    bool placed = false;
    const auto putIcmt = [&] {
        placed = true;
        if (icmt.empty()) return;
        PutHeader(list, kIcmt, icmt.size());
        list.Add(icmt);
        PutPad(list, icmt.size());
    };
    for (const Chunk& item : items) {
        if (item.id != kIcmt) {
            KeepItem(list, item);
        } else if (!placed) {
            putIcmt();
        }
    }
    if (!placed) putIcmt();
    if (list.size() == 0) return;
    PutHeader(out, "LIST", 4 + list.size());
    out.Add("INFO");
    Append(out, list, file);
}

// An id3 chunk's tag, what it reads as, and the bytes after it in the
// chunk, which stay there.
struct Id3Chunk {
    std::string_view tag, tail;
    Id3v2Comment read;
};
std::optional<Id3Chunk> ReadId3(const Chunk& chunk) {
    const std::optional<Id3v2Header> header = ReadId3v2Header(chunk.data);
    std::optional<Id3v2Comment> read = Id3v2ReadComment(chunk.data);
    if (!header || !read) return std::nullopt;
    return Id3Chunk{chunk.data.substr(0, header->total), chunk.data.substr(header->total), std::move(*read)};
}

// The id3 chunk with `text` in its tag's comment frame, or a new one where
// `chunk` is null; none where its tag would read as no tag. False where
// the tag is refused.
bool PutId3(Pieces& out, std::string_view file, const Chunk* chunk, std::string_view text) {
    Id3Chunk id3;
    if (chunk) {
        std::optional<Id3Chunk> read = ReadId3(*chunk);
        if (!read) return false;
        id3 = std::move(*read);
    }
    if (text.empty() && id3.read.rest.empty() && id3.tail.empty()) return true;
    Pieces frames;
    if (!Id3v2PutComment(frames, id3.tag, text)) return false;
    const size_t size = frames.size() + id3.tail.size();
    PutHeader(out, chunk ? chunk->id : kNewId3, size);
    Append(out, frames, file);
    out.Keep(id3.tail);
    PutPad(out, size);
    return true;
}

}  // namespace

Rewrite WavSetComment(std::string_view file, std::string_view shiftJis, std::string_view utf8) {
    const std::optional<std::string> text = UnicodeComment(utf8);
    if (!text || shiftJis.find('\0') != std::string_view::npos) return std::nullopt;
    const std::optional<Wav> wav = Parse(file);
    if (!wav) return std::nullopt;
    const std::string icmt = shiftJis.empty() ? std::string() : WithCrLf(shiftJis) + '\0';

    Pieces body;
    for (size_t i = 0; i < wav->chunks.size(); ++i) {
        const Chunk& c = wav->chunks[i];
        if (i == wav->info) {
            PutInfo(body, file, wav->items, icmt);
        } else if (i == wav->id3) {
            if (!PutId3(body, file, &c, *text)) return std::nullopt;
        } else {
            body.Keep(c.whole);
        }
    }
    // What the file lacks goes after its last chunk, where taggers put it
    // and readers look, so that the audio stays where it was.
    const size_t last = wav->chunks.size() - 1;
    const bool lastKept = last != wav->info && last != wav->id3;
    const bool addInfo = !wav->info && !icmt.empty(), addId3 = !wav->id3 && !text->empty();
    if ((addInfo || addId3) && lastKept && wav->chunks[last].LacksPad()) body.push_back('\0');
    if (addInfo) PutInfo(body, file, {}, icmt);
    if (addId3 && !PutId3(body, file, nullptr, *text)) return std::nullopt;

    // The writer's way of counting a last pad byte stays while that last
    // chunk does.
    const bool stillLast = lastKept && !addInfo && !addId3;
    const int64_t riff = static_cast<int64_t>(4 + body.size()) + (stillLast ? wav->riffOffset : 0);
    if (riff > int64_t{kMaxSize}) return Rewrite::CommentTooLong();
    Pieces out;
    out.Keep(file.substr(0, 4));
    PutLe32(out, static_cast<size_t>(riff));
    out.Keep(file.substr(8, 4));
    Append(out, body, file);
    return out;
}

std::optional<WavTags> WavRead(std::string_view file) {
    const std::optional<Wav> wav = Parse(file);
    if (!wav) return std::nullopt;
    WavTags read;
    const auto putRest = [&](std::string_view id, std::string_view data) {
        read.rest.append(id);
        PutLe32(read.rest, data.size());
        read.rest.append(data);
    };
    for (size_t i = 0; i < wav->chunks.size(); ++i) {
        const Chunk& c = wav->chunks[i];
        if (i == wav->info) {
            std::string items;
            for (const Chunk& item : wav->items) {
                if (item.id != kIcmt) {
                    items.append(item.whole.substr(0, kChunkHeader + item.data.size()));
                    continue;
                }
                read.icmt = read.icmt ? *read.icmt + "\r\n" : std::string();
                read.icmt->append(item.data.substr(0, item.data.find('\0')));
            }
            if (!items.empty()) putRest("INFO", items);
        } else if (i == wav->id3) {
            std::optional<Id3Chunk> id3 = ReadId3(c);
            if (!id3) return std::nullopt;
            read.comment = std::move(id3->read.comment);
            if (!id3->read.rest.empty() || !id3->tail.empty()) putRest(c.id, id3->read.rest + std::string(id3->tail));
        } else {
            putRest(c.id, c.data);
        }
    }
    return read;
}

}  // namespace kes
