#include <gtest/gtest.h>

#include "CoreTestSupport.h"
#include "M4aComment.h"

constexpr auto M4aSetComment = kes_test::JoinedOutput<kes::M4aSetComment>;
using kes_test::Sample;

namespace {

std::string Be32(uint64_t v) {
    std::string s;
    for (int i = 3; i >= 0; --i) s += static_cast<char>(v >> (8 * i) & 0xFF);
    return s;
}
std::string Be64(uint64_t v) { return Be32(v >> 32) + Be32(v & 0xFFFFFFFF); }

enum Form { kCompact, kLarge, kToEnd };  // size fields: 32 bits, 64 bits, 0 for "to the end"

std::string Atom(const std::string& type, const std::string& payload, Form form = kCompact) {
    if (form == kLarge) return Be32(1) + type + Be64(16 + payload.size()) + payload;
    return Be32(form == kToEnd ? 0 : 8 + payload.size()) + type + payload;
}
std::string Full(const std::string& payload, uint32_t flags = 0) { return Be32(flags) + payload; }
std::string Free(size_t size) { return Atom("free", std::string(size - 8, '\0')); }

// As iTunes and mutagen write them.
const std::string kHdlr = Atom("hdlr", std::string(8, '\0') + "mdirappl" + std::string(9, '\0'));
std::string Item(const std::string& key, const std::string& text) {
    return Atom(key, Atom("data", Be32(1) + Be32(0) + text));
}
std::string Cmt(const std::string& text) { return Item("\xA9" "cmt", text); }
const std::string kTitle = Item("\xA9nam", "Title");
std::string Meta(const std::string& children, Form form = kCompact) { return Atom("meta", Full(children), form); }
std::string Udta(const std::string& meta, Form form = kCompact) { return Atom("udta", meta, form); }
std::string Ilst(const std::string& items, Form form = kCompact) { return Atom("ilst", items, form); }

// One track; `dref` is its data references' count and entries.
std::string Track(uint64_t first, const std::string& dref = Be32(1) + Atom("url ", Full("", 1)),
                  const std::string& table = "stco") {
    const std::string offsets = table == "co64" ? Be64(first) + Be64(first + 8) : Be32(first) + Be32(first + 8);
    return Atom("trak", Atom("mdia", Atom("minf", Atom("dinf", Atom("dref", Full(dref))) +
                                                      Atom("stbl", Atom(table, Full(Be32(2) + offsets))))));
}

// A movie of one track whose two chunks lie in mdat, the stco entries
// pointing at them wherever moov puts them.
using Tracks = std::string (*)(uint64_t first);
std::string OneTrack(uint64_t first) { return Track(first); }

struct Movie {
    Movie(std::string moov = "", std::string after = "", bool moovFirst = true, Form form = kCompact,
          Tracks track = OneTrack)
        : moov(std::move(moov)), after(std::move(after)), moovFirst(moovFirst), form(form), track(track) {}
    std::string moov;   // moov's atoms after the track
    std::string after;  // atoms right after moov
    bool moovFirst;
    Form form;  // moov's size field
    Tracks track;
};

const std::string kFtyp = Atom("ftyp", std::string("M4A \0\0\0\0M4A mp42", 16));
const std::string kMedia = "chunk one chunk two";

std::string Build(const Movie& m) {
    const auto moov = [&](uint64_t first) { return Atom("moov", m.track(first) + m.moov, m.form); };
    const std::string mdat = Atom("mdat", kMedia);
    if (!m.moovFirst) return kFtyp + mdat + moov(kFtyp.size() + 8) + m.after;
    return kFtyp + moov(kFtyp.size() + moov(0).size() + m.after.size() + 8) + m.after + mdat;
}

// The mdat atom, wherever it went.
std::string MediaData(const std::string& file) {
    const size_t at = file.find("mdat") - 4;
    uint32_t size = 0;
    for (size_t i = 0; i < 4; ++i) size = size << 8 | static_cast<unsigned char>(file[at + i]);
    return file.substr(at, size);
}

}  // namespace

TEST(M4aCore, TheCommentItemTakesThePlaceOfTheOldOnesAndTheChunksAreFoundWhereTheyMoved) {
    const std::string item = Cmt("new\nline");  // written for "new\r\nline"
    const std::string other = Atom("\xA9xyz", "QuickTime user data");
    const struct {
        const char* what;
        Movie in, out;
        std::string read;  // what `in` holds
    } rows[] = {
        {"no udta", {}, {Udta(Meta(kHdlr + Ilst(item)))}, ""},
        {"no meta", {Udta(other)}, {Udta(other + Meta(kHdlr + Ilst(item)))}, ""},
        {"no ilst", {Udta(Meta(kHdlr))}, {Udta(Meta(kHdlr + Ilst(item)))}, ""},
        {"another item", {Udta(Meta(kHdlr + Ilst(kTitle)))}, {Udta(Meta(kHdlr + Ilst(kTitle + item)))}, ""},
        {"two items", {Udta(Meta(kHdlr + Ilst(Cmt("old") + kTitle + Cmt("second"))))},
         {Udta(Meta(kHdlr + Ilst(item + kTitle)))}, "old\nsecond"},
        {"two values", {Udta(Meta(kHdlr + Ilst(Atom("\xA9" "cmt", Atom("data", Full(Be32(0) + "a", 1)) +
                                                                     Atom("data", Full(Be32(0) + "b", 1))))))},
         {Udta(Meta(kHdlr + Ilst(item)))}, "a\nb"},
        {"QuickTime's end of user data", {Udta(other + Be32(0))},
         {Udta(other + Meta(kHdlr + Ilst(item)) + Be32(0))}, ""},
        {"64-bit sizes", {Udta(Meta(kHdlr + Ilst(Cmt("old"), kLarge), kLarge), kLarge), "", true, kLarge},
         {Udta(Meta(kHdlr + Ilst(item, kLarge), kLarge), kLarge), "", true, kLarge}, "old"},
        // Padding takes up the change where it is large enough.
        {"padding in meta", {Udta(Meta(kHdlr + Ilst(Cmt("old")) + Free(40)))},
         {Udta(Meta(kHdlr + Ilst(item) + Free(40 - 5)))}, "old"},
        {"padding in udta", {Udta(Meta(kHdlr + Ilst("")) + Free(40))}, {Udta(Meta(kHdlr + Ilst(item)) + Free(8))}, ""},
        {"padding in moov", {Free(120)},
         {Free(120 - 8 - 12 - kHdlr.size() - 8 - 32) + Udta(Meta(kHdlr + Ilst(item)))}, ""},
        {"padding after moov", {Udta(Meta(kHdlr + Ilst(Free(16)))), Free(100)},
         {Udta(Meta(kHdlr + Ilst(Free(16) + item))), Free(100 - 32)}, ""},
        {"too little padding", {Udta(Meta(kHdlr + Ilst("") + Free(30))), Free(20)},
         {Udta(Meta(kHdlr + Ilst(item) + Free(30))), Free(20)}, ""},
        {"a shorter comment", {Udta(Meta(kHdlr + Ilst(Cmt("a longer old comment")))), Free(8)},
         {Udta(Meta(kHdlr + Ilst(item))), Free(8 + 12)}, "a longer old comment"},
    };
    for (const auto& row : rows)
        for (bool moovFirst : {true, false}) {
            SCOPED_TRACE(std::string(row.what) + (moovFirst ? ", moov first" : ", moov last"));
            Movie in = row.in, out = row.out;
            in.moovFirst = out.moovFirst = moovFirst;
            const std::string file = Build(in);
            ASSERT_EQ(kes::M4aReadComment(file), row.read);
            const auto written = M4aSetComment(file, "new\r\nline");
            ASSERT_TRUE(written);
            EXPECT_EQ(*written, Build(out));
            EXPECT_EQ(M4aSetComment(*written, "new\nline"), written);
            const auto removed = M4aSetComment(*written, "");
            ASSERT_TRUE(removed);
            EXPECT_EQ(kes::M4aRead(*removed)->comment, "");
            EXPECT_EQ(kes::M4aRead(*removed)->rest, kes::M4aRead(file)->rest);
        }
    // moov last, to the end of the file: its size field stays 0.
    Movie toEnd{Udta(Meta(kHdlr + Ilst(""))), "", false, kToEnd};
    const auto written = M4aSetComment(Build(toEnd), "new\nline");
    toEnd.moov = Udta(Meta(kHdlr + Ilst(item)));
    EXPECT_EQ(written, Build(toEnd));
    EXPECT_EQ(M4aSetComment(Build(Movie{}), ""), Build(Movie{}));  // nothing to remove, nothing added
}

TEST(M4aCore, ChunkOffsetsMoveIn64BitsButA32BitOneIsNeverWidened) {
    // A second track's chunk near the end of 32 bits, which the new atoms
    // (86 bytes) would push past.
    Movie far;
    far.track = [](uint64_t first) {
        return Track(first) + Atom("trak", Atom("stbl", Atom("stco", Full(Be32(1) + Be32(0xFFFFFFFF - 40)))));
    };
    const std::string file = Build(far);
    EXPECT_EQ(kes::M4aReadComment(file), "");
    EXPECT_EQ(M4aSetComment(file, ""), file);
    EXPECT_FALSE(M4aSetComment(file, "x"));
    // In co64, chunks past 32 bits move along.
    Movie wide, grown{Udta(Meta(kHdlr + Ilst(Cmt("x"))))};
    wide.track = grown.track = [](uint64_t first) {
        return Track(first + 0xFFFFFFF0, Be32(1) + Atom("url ", Full("", 1)), "co64");
    };
    EXPECT_EQ(M4aSetComment(Build(wide), "x"), Build(grown));
}

TEST(M4aCore, WhatCannotBeKeptExactIsRefused) {
    const auto track = [](Tracks t) { return Build(Movie{"", "", false, kCompact, t}); };
    const std::string udtaWith = Build(Movie{Udta(Meta(kHdlr + Ilst(Cmt("old"))))});
    std::string nested;  // deeper than any track nests
    for (int i = 0; i < 10; ++i) nested = Atom("trak", nested);
    const std::string refused[] = {
        "",
        "no atoms at all",
        kFtyp + Atom("mdat", kMedia),                             // no moov
        Build(Movie{}) + "xyz",                                   // bytes after the last atom
        Build(Movie{}) + Be32(100) + "free",                      // past the file
        Build(Movie{}) + Be32(1) + "free" + Be64(8),              // a 64-bit size below its header
        Build(Movie{"", "", false}) + Atom("moov", ""),           // a second moov
        Build(Movie{"", Atom("moof", "") + Atom("mdat", "")}),    // fragments
        Build(Movie{Atom("mvex", "")}),
        Build(Movie{Atom("cmov", "")}),
        Build(Movie{Be32(0) + "free"}),                           // size 0 inside moov
        Build(Movie{Be32(100) + "free"}),                         // past moov
        Build(Movie{Udta("") + Udta("")}),
        Build(Movie{Udta(Meta(kHdlr) + Meta(kHdlr))}),
        Build(Movie{Udta(Meta(kHdlr + Ilst("") + Ilst("")))}),
        Build(Movie{Udta(Atom("meta", Full(kHdlr, 1)))}),         // meta with flags
        Build(Movie{Udta(Atom("meta", kHdlr))}),                  // meta as QuickTime's plain atom
        Build(Movie{Udta(Meta(Ilst("")))}),                       // no handler
        Build(Movie{Udta(Meta(Atom("hdlr", std::string(8, '\0') + "mdta") + Ilst("")))}),
        Build(Movie{Udta(Meta(kHdlr + Ilst(Atom("\xA9" "cmt", Atom("data", Be32(1))))))}),
        Build(Movie{Udta(Meta(kHdlr + Ilst(Atom("\xA9" "cmt", "not atoms"))))}),
        Build(Movie{nested}),
        track([](uint64_t f) { return Track(f, Be32(1) + Atom("url ", Full("", 0))); }),  // media in another file
        track([](uint64_t f) { return Track(f, Be32(1) + Atom("urn ", Full("name", 0))); }),
        track([](uint64_t f) { return Track(f, Be32(2) + Atom("url ", Full("", 1))); }),  // count past the entries
        track([](uint64_t f) { return Track(f, Be32(1) + Atom("url ", "")); }),           // no flags
        track([](uint64_t) { return Atom("trak", Atom("stbl", "")); }),                         // no offsets
        track([](uint64_t f) { return Track(f) + Atom("trak", Atom("stbl", Atom("stco", Full(Be32(0))) +
                                                                            Atom("co64", Full(Be32(0))))); }),
        track([](uint64_t f) { return Atom("trak", Atom("stbl", Atom("stco", Full(Be32(1) + Be32(f), 1 << 24)))); }),
        track([](uint64_t f) { return Atom("trak", Atom("stbl", Atom("stco", Full(Be32(2) + Be32(f))))); }),
        track([](uint64_t f) {
            return Track(f) + Atom("trak", Atom("stbl", Atom("stco", Full(Be32(0))) + Atom("saio", "")));
        }),
        Build(Movie{"", "", true, kCompact, [](uint64_t) { return Track(kFtyp.size() + 8); }}),  // a chunk inside moov
        Build(Movie{"", Free(16), true, kCompact, [](uint64_t f) { return Track(f - 16); }}),  // in its padding
        Sample("fragmented.m4a"),
        Sample("commented.flac"),
    };
    for (const std::string& file : refused) {
        SCOPED_TRACE(file.size());
        EXPECT_FALSE(kes::M4aReadComment(file));
        EXPECT_FALSE(M4aSetComment(file, ""));
        EXPECT_FALSE(M4aSetComment(file, "x"));
    }
    EXPECT_TRUE(M4aSetComment(udtaWith, "x"));
    EXPECT_FALSE(M4aSetComment(udtaWith, "\x83\x52"));  // Shift_JIS, not UTF-8
    EXPECT_FALSE(M4aSetComment(udtaWith, std::string("a\0b", 3)));
}

TEST(M4aCore, FilesTheToolsMadeKeepTheirMediaAndTracks) {
    const struct {
        const char* name;
        std::string read;
        bool sameSize;  // padding takes up the change
    } samples[] = {
        {"plain.m4a", "", false},     {"faststart.m4a", "", false},
        {"commented.m4a", "old comment", false}, {"video.mp4", "", false},
        {"padded.m4a", "old comment\nsecond old one", true},
        {"bare.m4a", "", false},
    };
    for (const auto& sample : samples) {
        SCOPED_TRACE(sample.name);
        const std::string file = Sample(sample.name);
        ASSERT_EQ(kes::M4aReadComment(file), sample.read);
        const auto written = M4aSetComment(file, "コメント\r\n二行目");
        ASSERT_TRUE(written);
        EXPECT_EQ(kes::M4aRead(*written)->comment, "コメント\n二行目");
        EXPECT_EQ(kes::M4aRead(*written)->rest, kes::M4aRead(file)->rest);
        EXPECT_EQ(written->size() == file.size(), sample.sameSize);
        EXPECT_EQ(MediaData(*written), MediaData(file));
    }
}
