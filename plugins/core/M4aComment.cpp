#include "M4aComment.h"

#include <algorithm>
#include <iterator>

#include "Text.h"

namespace kes {
namespace {

constexpr size_t kHeader = 8, kLargeHeader = 16, kVersionAndFlags = 4;
constexpr uint64_t kMax32 = 0xFFFFFFFF;
constexpr std::string_view kComment = "\xA9" "cmt";
constexpr std::string_view kFree = "free";
// The path to the item list; the setter creates what is missing of it.
constexpr std::string_view kPath[] = {"moov", "udta", "meta", "ilst"};
constexpr size_t kMoov = 0, kUdta = 1, kMeta = 2, kIlst = 3;
// An item list's handler, as iTunes and the common taggers write it.
constexpr std::string_view kHandler("\0\0\0\x21hdlr\0\0\0\0\0\0\0\0mdirappl\0\0\0\0\0\0\0\0\0", 33);
// A data atom's type (UTF-8 text) and locale (none).
constexpr std::string_view kUtf8Data("\0\0\0\x01\0\0\0\0", 8);
// The atoms that lead from moov to the chunk offsets and data references.
constexpr std::string_view kTrackContainers[] = {"trak", "mdia", "minf", "stbl", "dinf", "edts"};
// Far deeper than tracks nest; a crafted file must not exhaust the stack.
constexpr int kMaxDepth = 8;

uint64_t Be64(std::string_view s, size_t at) { return uint64_t{Be32(s, at)} << 32 | Be32(s, at + 4); }

template <class Out>
void PutBe64(Out& out, uint64_t value) {
    PutBe32(out, static_cast<uint32_t>(value >> 32));
    PutBe32(out, static_cast<uint32_t>(value));
}

struct Atom {
    size_t at = 0;       // its size field
    size_t header = 0;   // 8, or 16 with a 64-bit size
    size_t size = 0;     // header and payload
    bool toEnd = false;  // size 0: up to the end of the file
    std::string_view type;
    size_t Begin() const { return at + header; }
    size_t End() const { return at + size; }
    size_t Payload() const { return size - header; }
};

// The atom at `at`, which must end by `end`. Only one at the top level may
// give size 0, running to the end of the file.
std::optional<Atom> ReadAtom(std::string_view s, size_t at, size_t end, bool top) {
    if (end - at < kHeader) return std::nullopt;
    Atom a;
    a.at = at;
    a.header = kHeader;
    a.type = s.substr(at + 4, 4);
    uint64_t size = Be32(s, at);
    if (size == 1) {
        if (end - at < kLargeHeader) return std::nullopt;
        a.header = kLargeHeader;
        size = Be64(s, at + 8);
    } else if (size == 0 && top) {
        a.toEnd = true;
        size = end - at;
    }
    if (size < a.header || size > end - at) return std::nullopt;
    a.size = static_cast<size_t>(size);
    return a;
}

// The atoms that fill a container. meta is a full atom (version and flags
// 0 before its children); a QuickTime user data list may end in a 32-bit
// zero after its atoms, which new ones go in front of.
struct Container {
    Atom atom;
    size_t end = 0;  // where its atoms end
    std::vector<Atom> children;
};

std::optional<Container> Open(std::string_view s, const Atom& a) {
    const size_t skip = a.type == "meta" ? kVersionAndFlags : 0;
    if (a.Payload() < skip || (skip && Be32(s, a.Begin()) != 0)) return std::nullopt;
    Container c{a, a.End(), {}};
    for (size_t at = a.Begin() + skip; at < c.end;) {
        if (a.type == "udta" && c.end - at == 4 && Be32(s, at) == 0) {
            c.end = at;
            break;
        }
        const std::optional<Atom> child = ReadAtom(s, at, c.end, false);
        if (!child) return std::nullopt;
        c.children.push_back(*child);
        at = child->End();
    }
    return c;
}

// The one child of that type, or null; nothing when there are several.
std::optional<const Atom*> Single(const Container& c, std::string_view type) {
    const Atom* found = nullptr;
    for (const Atom& a : c.children) {
        if (a.type != type) continue;
        if (found) return std::nullopt;
        found = &a;
    }
    return found;
}

bool IsTrackContainer(std::string_view type) {
    return std::find(std::begin(kTrackContainers), std::end(kTrackContainers), type) != std::end(kTrackContainers);
}

bool IsOffsetTable(std::string_view type) { return type == "stco" || type == "co64"; }

// The entries of a chunk offset table: 32 bits each in stco, 64 in co64.
struct Offsets {
    size_t at = 0;
    size_t count = 0;
    size_t width = 0;
    uint64_t Get(std::string_view s, size_t i) const {
        return width == 4 ? Be32(s, at + i * 4) : Be64(s, at + i * 8);
    }
    size_t End() const { return at + count * width; }
};

std::optional<Offsets> ReadOffsets(std::string_view s, const Atom& a) {
    const size_t width = a.type == "co64" ? 8 : 4;
    if (a.Payload() < 8 || Byte(s, a.Begin()) != 0) return std::nullopt;
    const size_t count = Be32(s, a.Begin() + 4);
    if ((a.Payload() - 8) / width < count) return std::nullopt;
    return Offsets{a.Begin() + 8, count, width};
}

// Every entry of a data reference says that the media is in this file
// (flags 1). Another file's media would not move with this one.
bool SelfContained(std::string_view s, const Atom& dref) {
    if (dref.Payload() < 8) return false;
    const uint32_t count = Be32(s, dref.Begin() + 4);
    size_t at = dref.Begin() + 8;
    for (uint32_t i = 0; i < count; ++i) {
        const std::optional<Atom> entry = ReadAtom(s, at, dref.End(), false);
        if (!entry || entry->Payload() < kVersionAndFlags || Be24(s, entry->Begin() + 1) != 1) return false;
        at = entry->End();
    }
    return true;
}

// Collects the chunk offset tables below a container of tracks. Refuses
// what no shift of those tables keeps exact: fragments (mvex), a compressed
// movie, auxiliary information found by absolute offsets (saio), media in
// another file, and a sample table without exactly one table of offsets.
bool Walk(std::string_view s, const Container& c, std::vector<Offsets>& tables, int depth) {
    if (depth > kMaxDepth) return false;
    size_t here = 0;
    for (const Atom& a : c.children) {
        if (a.type == "mvex" || a.type == "cmov" || a.type == "saio") return false;
        if (IsOffsetTable(a.type)) {
            const std::optional<Offsets> table = ReadOffsets(s, a);
            if (!table) return false;
            tables.push_back(*table);
            ++here;
        } else if (a.type == "dref" && !SelfContained(s, a)) {
            return false;
        } else if (IsTrackContainer(a.type)) {
            const std::optional<Container> inner = Open(s, a);
            if (!inner || !Walk(s, *inner, tables, depth + 1)) return false;
        }
    }
    return c.atom.type != "stbl" || here == 1;
}

struct M4a {
    std::vector<Atom> top;
    size_t moov = 0;                // its index in top
    std::vector<Container> path;    // moov, then udta, meta and ilst as far as they exist
    std::vector<Offsets> tables;
    size_t moved = 0;               // what lies from here on moves when moov changes size
    std::vector<std::string_view> texts;  // of the ©cmt items' data atoms

    // A free atom right after moov, which can take up its change in size.
    const Atom* FreeAfter() const {
        return moov + 1 < top.size() && top[moov + 1].type == kFree ? &top[moov + 1] : nullptr;
    }
};

bool HasItemHandler(std::string_view s, const Container& meta) {
    const std::optional<const Atom*> hdlr = Single(meta, "hdlr");
    return hdlr && *hdlr && (*hdlr)->Payload() >= 12 && s.substr((*hdlr)->Begin() + 8, 4) == "mdir";
}

// The texts of the ©cmt items, whose atoms must hold together.
bool ReadTexts(std::string_view s, const Container& ilst, std::vector<std::string_view>& texts) {
    for (const Atom& a : ilst.children) {
        if (a.type != kComment) continue;
        const std::optional<Container> item = Open(s, a);
        if (!item) return false;
        for (const Atom& data : item->children) {
            if (data.type != "data") continue;
            if (data.Payload() < kUtf8Data.size()) return false;
            texts.push_back(s.substr(data.Begin() + kUtf8Data.size(), data.Payload() - kUtf8Data.size()));
        }
    }
    return true;
}

std::optional<M4a> Parse(std::string_view s) {
    M4a m;
    bool found = false;
    for (size_t at = 0; at < s.size();) {
        const std::optional<Atom> a = ReadAtom(s, at, s.size(), true);
        if (!a || a->type == "moof" || (a->type == "moov" && found)) return std::nullopt;
        if (a->type == "moov") {
            found = true;
            m.moov = m.top.size();
        }
        m.top.push_back(*a);
        at = a->End();
    }
    if (!found) return std::nullopt;
    const std::optional<Container> moov = Open(s, m.top[m.moov]);
    if (!moov || !Walk(s, *moov, m.tables, 0)) return std::nullopt;
    m.path.push_back(*moov);

    // Chunks lie before moov or after it and the padding that follows it,
    // never in what a new comment changes.
    const Atom* after = m.FreeAfter();
    m.moved = after ? after->End() : moov->atom.End();
    for (const Offsets& table : m.tables)
        for (size_t i = 0; i < table.count; ++i) {
            const uint64_t offset = table.Get(s, i);
            if (offset >= moov->atom.at && offset < m.moved) return std::nullopt;
        }

    for (size_t level = kUdta; level <= kIlst; ++level) {
        const std::optional<const Atom*> child = Single(m.path.back(), kPath[level]);
        if (!child) return std::nullopt;
        if (!*child) break;
        std::optional<Container> c = Open(s, **child);
        if (!c || (level == kMeta && !HasItemHandler(s, *c))) return std::nullopt;
        m.path.push_back(std::move(*c));
    }
    if (m.path.size() > kIlst && !ReadTexts(s, m.path[kIlst], m.texts)) return std::nullopt;
    return m;
}

// Replaces [from, to) of the file; inserts where the two are equal.
struct Edit {
    size_t from, to;
    std::string bytes;
};

std::string NewAtom(std::string_view type, std::string_view payload) {
    std::string out;
    PutBe32(out, static_cast<uint32_t>(kHeader + payload.size()));
    out.append(type);
    out.append(payload);
    return out;
}

// An atom's size field, in the form its header has, for a new size;
// false when its 32-bit field cannot hold it. One running to the end of
// the file still does.
bool Resize(const Atom& a, int64_t change, std::vector<Edit>& edits) {
    if (a.toEnd || change == 0) return true;
    const uint64_t size = static_cast<uint64_t>(static_cast<int64_t>(a.size) + change);
    std::string field;
    if (a.header == kLargeHeader) {
        PutBe64(field, size);
        edits.push_back({a.at + 8, a.at + kLargeHeader, field});
        return true;
    }
    if (size > kMax32) return false;
    PutBe32(field, static_cast<uint32_t>(size));
    edits.push_back({a.at, a.at + 4, field});
    return true;
}

// What is left of the padding must still be an atom of its header's form.
bool Fits(const Atom& pad, int64_t change) {
    const int64_t left = static_cast<int64_t>(pad.size) - change;
    return left >= static_cast<int64_t>(pad.header) && (pad.header == kLargeHeader || left <= int64_t{kMax32});
}

// The free atom that takes up a change in size: the innermost one in meta,
// udta or moov, which keeps the containers around it as they are, else one
// right after moov, which keeps the media where it is. `keep` is how many
// containers of the path, from moov on, keep their size.
const Atom* Padding(const M4a& m, int64_t change, size_t& keep) {
    for (size_t level = std::min(m.path.size(), kIlst); level-- > 0;)
        for (const Atom& a : m.path[level].children)
            if (a.type == kFree && Fits(a, change)) {
                keep = level + 1;
                return &a;
            }
    keep = 0;
    const Atom* after = m.FreeAfter();
    return after && Fits(*after, change) ? after : nullptr;
}

// The new item, and the edits that put it in the place of the old ones or
// add it with what is missing around it; `change` is how much the innermost
// container grows.
std::vector<Edit> PlaceItem(const M4a& m, const std::string& item, int64_t& change) {
    std::vector<Edit> edits;
    change = 0;
    const Container& inner = m.path.back();
    if (m.path.size() > kIlst) {
        bool placed = false;
        for (const Atom& a : inner.children) {
            if (a.type != kComment) continue;
            edits.push_back({a.at, a.End(), placed ? std::string() : item});
            change += static_cast<int64_t>(edits.back().bytes.size()) - static_cast<int64_t>(a.size);
            placed = true;
        }
        if (placed || item.empty()) return edits;
        edits.push_back({inner.end, inner.end, item});
    } else if (!item.empty()) {
        std::string added = NewAtom("ilst", item);
        const bool hasUdta = m.path.size() > kUdta, hasMeta = m.path.size() > kMeta;
        if (!hasMeta) added = NewAtom("meta", std::string(kVersionAndFlags, '\0') + std::string(kHandler) + added);
        if (!hasUdta) added = NewAtom("udta", added);
        // An item list follows its handler, as taggers write it.
        const size_t at = hasMeta ? (*Single(inner, "hdlr"))->End() : inner.end;
        edits.push_back({at, at, added});
    }
    if (!edits.empty()) change = static_cast<int64_t>(edits.back().bytes.size());
    return edits;
}

Pieces Apply(std::string_view file, std::vector<Edit> edits) {
    // Where an insertion and a replacement start at the same place, the
    // insertion is the end of a container and comes first.
    std::stable_sort(edits.begin(), edits.end(),
                     [](const Edit& a, const Edit& b) { return a.from != b.from ? a.from < b.from : a.to < b.to; });
    Pieces out;
    size_t at = 0;
    for (const Edit& e : edits) {
        out.Keep(file.substr(at, e.from - at));
        out.Add(e.bytes);
        at = e.to;
    }
    out.Keep(file.substr(at));
    return out;
}

// Chunk offsets past moov (and its padding) for media that moved by
// `shift`. Nothing when an stco entry would outgrow 32 bits: a co64 table
// in its place would move every later atom again.
bool Shift(std::string_view file, const M4a& m, int64_t shift, std::vector<Edit>& edits) {
    for (const Offsets& table : m.tables) {
        std::string entries;
        entries.reserve(table.count * table.width);
        for (size_t i = 0; i < table.count; ++i) {
            uint64_t offset = table.Get(file, i);
            if (offset >= m.moved) offset = static_cast<uint64_t>(static_cast<int64_t>(offset) + shift);
            if (table.width == 8) {
                PutBe64(entries, offset);
            } else if (offset <= kMax32) {
                PutBe32(entries, static_cast<uint32_t>(offset));
            } else {
                return false;
            }
        }
        edits.push_back({table.at, table.End(), std::move(entries)});
    }
    return true;
}

std::string JoinedTexts(const std::vector<std::string_view>& texts) {
    std::string joined;
    for (size_t i = 0; i < texts.size(); ++i) {
        if (i > 0) joined += '\n';
        joined.append(texts[i]);
    }
    return joined;
}

// For the rest of the file: a type and its contents behind their length.
void PutPart(std::string& out, std::string_view type, std::string_view contents) {
    out.append(type);
    PutBe64(out, contents.size());
    out.append(contents);
}

std::string RenderedOffsets(std::string_view s, const M4a& m, const Atom& a) {
    const Offsets table = *ReadOffsets(s, a);
    std::string out(s.substr(a.Begin(), table.at - a.Begin()));
    for (size_t i = 0; i < table.count; ++i) {
        const uint64_t offset = table.Get(s, i);
        out += offset >= m.moved ? '+' : '-';
        PutBe64(out, offset >= m.moved ? offset - m.moved : offset);
    }
    out.append(s.substr(table.End(), a.End() - table.End()));
    return out;
}

// The children of a container as the rest of the file reads them; `level`
// is its place on the path from moov to ilst, past the end for a track's.
std::string Rendered(std::string_view s, const M4a& m, const Container& c, size_t level) {
    static const std::string kBareMeta = [] {
        std::string handler;
        PutPart(handler, "hdlr", kHandler.substr(kHeader));
        return handler;
    }();
    // Only moov and the tracks were walked for chunk offsets.
    const bool tracks = level == kMoov || level > kIlst;
    std::string out;
    for (const Atom& a : c.children) {
        if ((level < kIlst && a.type == kFree) || (level == kIlst && a.type == kComment)) continue;
        std::string contents;
        if (level < kIlst && level + 1 < m.path.size() && a.at == m.path[level + 1].atom.at) {
            contents = Rendered(s, m, m.path[level + 1], level + 1);
            if (contents.empty() || (level + 1 == kMeta && contents == kBareMeta)) continue;
        } else if (tracks && IsTrackContainer(a.type)) {
            contents = Rendered(s, m, *Open(s, a), kIlst + 1);
        } else if (tracks && IsOffsetTable(a.type)) {
            contents = RenderedOffsets(s, m, a);
        } else {
            contents = s.substr(a.Begin(), a.Payload());
        }
        PutPart(out, a.type, contents);
    }
    return out;
}

}  // namespace

Rewrite M4aSetComment(std::string_view file, std::string_view utf8) {
    const std::optional<std::string> text = UnicodeComment(utf8);
    if (!text) return std::nullopt;
    const std::optional<M4a> m = Parse(file);
    if (!m) return std::nullopt;
    // Room for the atoms around the text within 32-bit sizes.
    if (text->size() > kMax32 - 256) return Rewrite::CommentTooLong();
    const std::string item =
        text->empty() ? std::string() : NewAtom(kComment, NewAtom("data", std::string(kUtf8Data) + *text));

    int64_t change = 0;
    std::vector<Edit> edits = PlaceItem(*m, item, change);
    size_t keep = 0;
    int64_t shift = change;
    if (change != 0) {
        if (const Atom* pad = Padding(*m, change, keep)) {
            Resize(*pad, -change, edits);
            // Zeros join, or bytes leave, the padding at its start: its end
            // may be where a new container goes.
            if (change < 0)
                edits.push_back({pad->Begin(), pad->Begin(), std::string(static_cast<size_t>(-change), '\0')});
            else
                edits.push_back({pad->Begin(), pad->Begin() + static_cast<size_t>(change), std::string()});
            shift = 0;
        }
        for (size_t level = keep; level < m->path.size(); ++level)
            if (!Resize(m->path[level].atom, change, edits)) return Rewrite::CommentTooLong();
    }
    if (shift != 0 && !Shift(file, *m, shift, edits)) return std::nullopt;
    return Apply(file, std::move(edits));
}

std::optional<std::string> M4aReadComment(std::string_view file) {
    const std::optional<M4a> m = Parse(file);
    if (!m) return std::nullopt;
    return JoinedTexts(m->texts);
}

std::optional<CommentAndRest> M4aRead(std::string_view file) {
    const std::optional<M4a> m = Parse(file);
    if (!m) return std::nullopt;
    CommentAndRest read{JoinedTexts(m->texts), std::string()};
    for (const Atom& a : m->top) {
        if (&a == m->FreeAfter()) continue;
        const bool moov = &a == &m->top[m->moov];
        PutPart(read.rest, a.type,
                moov ? Rendered(file, *m, m->path[kMoov], kMoov) : std::string(file.substr(a.Begin(), a.Payload())));
    }
    return read;
}

}  // namespace kes
