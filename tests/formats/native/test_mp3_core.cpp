#include <gtest/gtest.h>
#include <zlib.h>

#include "CoreTestSupport.h"
#include "Mp3Comment.h"

using kes_test::Sample;

namespace {

// "コメント\r\nline" as the tool gives it, and as UTF-8.
const std::string kShiftJis = "\x83\x52\x83\x81\x83\x93\x83\x67\r\nline";
const std::string kUtf8 = "\xE3\x82\xB3\xE3\x83\xA1\xE3\x83\xB3\xE3\x83\x88\r\nline";
// The frame's text: UTF-16LE with the line break as LF.
const std::string kUtf16(
    "\xB3\x30\xE1\x30\xF3\x30\xC8\x30\n\0l\0i\0n\0e\0", 18);

std::optional<std::string> Set(const std::string& file, const std::string& sjis, const std::string& utf8) {
    return kes::Joined(kes::Mp3SetComment(file, sjis, utf8));
}

struct Frame {
    std::string id, bytes;  // the whole frame
};

size_t Size(const std::string& s, size_t at, bool syncsafe, size_t bytes = 4) {
    size_t v = 0;
    for (size_t i = 0; i < bytes; ++i) v = v << (syncsafe ? 7 : 8) | static_cast<unsigned char>(s[at + i]);
    return v;
}

// The tag's frames, read here without the core; `end` is where the tag ends.
// v2.2 frames have three-letter ids and three-byte sizes.
std::vector<Frame> Frames(const std::string& mp3, size_t* end = nullptr) {
    const bool v2 = mp3[3] == 2, v4 = mp3[3] == 4;
    const size_t id = v2 ? 3 : 4, header = v2 ? 6 : 10;
    const size_t tagEnd = 10 + Size(mp3, 6, true);
    size_t at = 10 + (mp3[5] & 0x40 ? 4 + Size(mp3, 10, v4) - (v4 ? 4 : 0) : 0);
    std::vector<Frame> frames;
    while (at + header <= tagEnd && mp3[at] != 0) {
        const size_t size = header + Size(mp3, at + id, v4, id);
        frames.push_back({mp3.substr(at, id), mp3.substr(at, size)});
        at += size;
    }
    if (end) *end = tagEnd;
    return frames;
}

std::vector<std::string> Ids(const std::string& mp3) {
    std::vector<std::string> ids;
    for (const Frame& f : Frames(mp3)) ids.push_back(f.id);
    return ids;
}

std::string NewComm(const std::string& size) {
    return "COMM" + size + std::string("\0\0\x01" "eng\xFF\xFE\0\0\xFF\xFE", 12) + kUtf16;
}

std::string Le32(size_t v) {
    std::string s;
    for (int i = 0; i < 4; ++i) s += static_cast<char>(v >> 8 * i & 0xFF);
    return s;
}

// An APEv2 item, and a tag of such items without header.
std::string ApeItem(const std::string& key, const std::string& value) {
    return Le32(value.size()) + Le32(0) + key + '\0' + value;
}
std::string ApeTag(const std::string& items, size_t count) {
    return items + "APETAGEX" + Le32(2000) + Le32(items.size() + 32) + Le32(count) + Le32(0) + std::string(8, '\0');
}

std::string Syncsafe(size_t v) {
    std::string s;
    for (int shift : {21, 14, 7, 0}) s += static_cast<char>(v >> shift & 0x7F);
    return s;
}

// Unsynchronisation as a tagger applies it: a $00 after each $FF that comes
// before $00 or %111xxxxx.
std::string Unsynchronised(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        out += s[i];
        if (s[i] == '\xFF' && (i + 1 == s.size() || s[i + 1] == 0 || (s[i + 1] & 0xE0) == 0xE0)) out += '\0';
    }
    return out;
}

// A tag without extended header unsynchronised: in v2.2 and v2.3 as a
// whole, in v2.4 frame by frame (with each frame's flag, or the tag's).
std::string UnsynchroniseTag(const std::string& mp3, bool tagFlag) {
    size_t end = 0, padding = 10;
    std::string body;
    for (const Frame& f : Frames(mp3, &end)) {
        const std::string data = Unsynchronised(f.bytes.substr(10));
        body += f.id + Syncsafe(data.size()) + f.bytes[8] + static_cast<char>(f.bytes[9] | (tagFlag ? 0 : 2)) + data;
        padding += f.bytes.size();
    }
    body = mp3[3] == 4 ? body + std::string(end - padding, '\0') : Unsynchronised(mp3.substr(10, end - 10));
    return mp3.substr(0, 5) + static_cast<char>(mp3[5] | (tagFlag ? 0x80 : 0)) + Syncsafe(body.size()) + body +
           mp3.substr(end);
}

// An ID3v1 tag with the comment field given, 30 bytes.
std::string Id3v1(const std::string& field) { return "TAG" + std::string(94, 'a') + field + "\x0C"; }

}  // namespace

TEST(Mp3Core, AVersion3TagTakesTheFrameInPlaceAndTheVersion1FieldKeepsItsTrackNumber) {
    const std::string original = Sample("v23.mp3");
    ASSERT_EQ(Ids(original), (std::vector<std::string>{"TIT2", "COMM", "TRCK"}));
    const auto out = Set(original, kShiftJis, kUtf8);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->size(), original.size()) << "the padding takes up the change";
    const std::vector<Frame> before = Frames(original), after = Frames(*out);
    ASSERT_EQ(Ids(*out), Ids(original));
    EXPECT_EQ(after[1].bytes, NewComm(std::string("\0\0\0\x1C", 4)));
    EXPECT_EQ(after[0].bytes, before[0].bytes);
    EXPECT_EQ(after[2].bytes, before[2].bytes);
    const size_t v1 = out->size() - 128;
    EXPECT_EQ(out->substr(v1 + 97), "\x83\x52\x83\x81\x83\x93\x83\x67 line" + std::string(15, '\0') + std::string("\0\x05\xFF", 3));
    EXPECT_EQ(out->substr(0, v1 + 97).substr(original.find("\xFF\xF3")), original.substr(original.find("\xFF\xF3"), v1 + 97 - original.find("\xFF\xF3")));
    EXPECT_EQ(kes::Mp3Read(*out)->comment, "\xE3\x82\xB3\xE3\x83\xA1\xE3\x83\xB3\xE3\x83\x88\nline");

    const auto removed = Set(*out, "", "");
    ASSERT_TRUE(removed);
    EXPECT_EQ(Ids(*removed), (std::vector<std::string>{"TIT2", "TRCK"}));
    EXPECT_EQ(removed->size(), original.size());
    EXPECT_EQ(removed->substr(v1 + 97), std::string(29, '\0') + "\x05\xFF");
}

TEST(Mp3Core, AVersion4TagKeepsCommentsWithADescriptionAndGrowsPastItsPadding) {
    const std::string original = Sample("v24.mp3");
    ASSERT_EQ(Ids(original), (std::vector<std::string>{"TIT2", "COMM", "COMM", "COMM"}));
    ASSERT_EQ(kes::Mp3Read(original)->comment, "alter Kommentarsecond old one");
    const auto out = Set(original, kShiftJis, kUtf8);
    ASSERT_TRUE(out);
    const std::vector<Frame> before = Frames(original), after = Frames(*out);
    ASSERT_EQ(after.size(), 3u);
    EXPECT_EQ(after[1].bytes, NewComm(std::string("\0\0\0\x1C", 4)));
    EXPECT_EQ(after[2].bytes, before[2].bytes);  // iTunNORM

    const std::string longer(300, 'x');
    const auto grown = Set(original, longer, longer);
    ASSERT_TRUE(grown);
    size_t end = 0;
    ASSERT_EQ(Frames(*grown, &end).size(), 3u);
    EXPECT_EQ(Frames(*grown)[1].bytes.substr(4, 4), std::string("\0\0\x04\x62", 4)) << "syncsafe: 610 bytes";
    EXPECT_EQ(grown->substr(0, 4), "ID3\x04");
    EXPECT_EQ(grown->substr(end), Sample("plain.mp3"));
    EXPECT_EQ(kes::Mp3Read(*grown)->comment, longer);
}

TEST(Mp3Core, AnUntaggedFileGetsAVersion3TagAndItsEndStaysAsItWas) {
    const std::string plain = Sample("plain.mp3");
    EXPECT_EQ(Set(plain, "", ""), plain);
    EXPECT_EQ(Set(plain, kShiftJis, kUtf8), std::string("ID3\x03\0\0\0\0\0\x26", 10) +
                                                NewComm(std::string("\0\0\0\x1C", 4)) + plain);

    // An APE tag without comment stays; an ID3v1 tag without track number
    // has 30 bytes, cut before a character that would not fit whole.
    const std::string ape = ApeTag(ApeItem("Artist", "Kestrane"), 1);
    const std::string tail = ape + Id3v1(std::string(30, 'o'));
    const auto out = Set(plain + tail, std::string(29, 'n') + "\x83\x52", "n");
    ASSERT_TRUE(out);
    EXPECT_EQ(out->substr(out->size() - tail.size()), ape + Id3v1(std::string(29, 'n') + '\0'));
    EXPECT_EQ(kes::Mp3Read(*out)->v1, std::string(29, 'n'));
}

TEST(Mp3Core, AnExtendedHeaderIsKeptWithItsPaddingSizeAndAFooterFollowsTheSize) {
    const std::string title = std::string("TIT2\0\0\0\x02\0\0\0t", 12);
    const std::string audio = Sample("plain.mp3");
    // v2.3, extended header with a padding size of 30; the new frame takes 22.
    const std::string extended = std::string("ID3\x03\0\x40\0\0\0\x34\0\0\0\x06\0\0\0\0\0\x1E", 20) + title +
                                 std::string(30, '\0') + audio;
    const auto out = Set(extended, "c", "c");
    ASSERT_TRUE(out);
    EXPECT_EQ(out->substr(0, 20), std::string("ID3\x03\0\x40\0\0\0\x34\0\0\0\x06\0\0\0\0\0\x08", 20));
    EXPECT_EQ(out->substr(20, 12), title);
    EXPECT_EQ(kes::Mp3Read(*out)->comment, "c");
    EXPECT_EQ(out->substr(out->size() - audio.size()), audio);
    EXPECT_FALSE(Set(extended.substr(0, 19) + "\x1D" + extended.substr(20), "c", "c")) << "a wrong padding size";

    // v2.4 with a footer: no padding, and the footer repeats the new size.
    const std::string footed = std::string("ID3\x04\0\x10\0\0\0\x0C", 10) + title + std::string("3DI\x04\0\x10\0\0\0\x0C", 10) + audio;
    const auto foot = Set(footed, "c", "c");
    ASSERT_TRUE(foot);
    const std::string size("\0\0\0\x22", 4);
    EXPECT_EQ(foot->substr(6, 4), size);
    EXPECT_EQ(foot->substr(10 + 0x22), "3DI\x04" + std::string("\0\x10", 2) + size + audio);
}

TEST(Mp3Core, DamagedAndForeignFilesAndUnwritableCommentsAreRefused) {
    const std::string v23 = Sample("v23.mp3"), plain = Sample("plain.mp3");
    const auto with = [](std::string s, size_t at, const std::string& bytes) { return s.replace(at, bytes.size(), bytes); };
    const size_t comm = v23.find("COMM"), v24comm = Sample("v24.mp3").find("COMM");
    // A frame of 256 bytes as a plain integer, 128 as a syncsafe one, with a
    // frame header where the syncsafe reading ends that fills the rest.
    std::string bothWays = "PRIV" + std::string("\0\0\x01\0\0\0", 6) + std::string(128, 'p') + "PRIX" +
                           std::string("\0\0\0\x76\0\0", 6) + std::string(118, 'q');
    bothWays = "ID3\x04" + std::string("\0\0", 2) + Syncsafe(bothWays.size() + 10) + bothWays + std::string(10, '\0');
    const std::string damaged[] = {
        "",
        "ID3",
        "text that is named .mp3",
        with(v23, 3, "\x02"),                        // v2.3 frames in a tag that says v2.2
        with(Sample("v22.mp3"), 5, "\x40"),         // a compressed v2.2 tag
        with(Sample("v22.mp3"), 5, "\x80"),         // unsynchronised, but with false syncs ($FF $FE) left
        std::string("ID3\x03\0\x80\0\0\0\x0D" "TIT2\0\0\0\x03\0\0\0a\xFF", 23) + plain,  // ends in $FF
        bothWays + plain,                            // v2.4 frames that line up as either kind of size
        with(Sample("v24.mp3"), v24comm + 4, std::string("\0\0\x10\0", 4)),  // and as neither
        with(v23, 6, std::string("\0\0\x7F\x7F", 4)),  // runs past the file
        with(v23, comm + 4, std::string("\0\0\x10\0", 4)),  // a frame runs past the tag
        with(v23, comm + 8, std::string("\0\x80", 2)),  // a compressed comment
        with(v23, v23.find("TRCK") + 20, "x"),       // something in the padding
        with(v23, 6, "\x80"),                        // no syncsafe size
        with(Sample("v24.mp3"), 5, "\x10"),          // a footer that is not there
        Sample("plain.flac"),
    };
    for (const std::string& file : damaged) {
        SCOPED_TRACE(&file - damaged);
        EXPECT_FALSE(kes::Mp3Read(file));
        EXPECT_FALSE(Set(file, "", ""));
    }
    EXPECT_FALSE(Set(plain, "\x83\x52", "\x83\x52"));
    EXPECT_FALSE(Set(plain, std::string("a\0b", 3), std::string("a\0b", 3)));
}

TEST(Mp3Core, AVersion2TagTakesAComFrameAndStaysVersion2) {
    const std::string original = Sample("v22.mp3");
    ASSERT_EQ(Ids(original), (std::vector<std::string>{"TT2", "TP1", "COM", "COM", "COM"}));
    ASSERT_EQ(kes::Mp3Read(original)->comment, "old commentsecond old one");
    const auto out = Set(original, kShiftJis, kUtf8);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->substr(0, 4), "ID3\x02");
    EXPECT_EQ(out->size(), original.size()) << "the padding takes up the change";
    const std::vector<Frame> before = Frames(original), after = Frames(*out);
    ASSERT_EQ(Ids(*out), (std::vector<std::string>{"TT2", "TP1", "COM", "COM"}));
    EXPECT_EQ(after[2].bytes, std::string("COM\0\0\x1C\x01" "eng\xFF\xFE\0\0\xFF\xFE", 16) + kUtf16);
    EXPECT_EQ(after[0].bytes, before[0].bytes);
    EXPECT_EQ(after[1].bytes, before[1].bytes);
    EXPECT_EQ(after[3].bytes, before[3].bytes) << "the comment with a description stays";
    EXPECT_EQ(kes::Mp3Read(*out)->v1, "\x83\x52\x83\x81\x83\x93\x83\x67 line");
    EXPECT_EQ(Set(*out, kShiftJis, kUtf8), *out);

    const auto removed = Set(*out, "", "");
    ASSERT_TRUE(removed);
    EXPECT_EQ(Ids(*removed), (std::vector<std::string>{"TT2", "TP1", "COM"}));
    EXPECT_EQ(kes::Mp3Read(*removed)->comment, "");
    EXPECT_EQ(kes::Mp3Read(*removed)->v1, "");
    // v2.2's UTF-16 is UCS-2: no character past U+FFFF.
    EXPECT_FALSE(Set(original, "?", "\xF0\x9F\x98\x80"));
}

TEST(Mp3Core, StrayBytesBeforeTheFirstFrameOfAnUntaggedFileStayBehindTheNewTag) {
    const std::string plain = Sample("plain.mp3"), stray = Sample("stray.mp3");
    const std::string junk = stray.substr(0, stray.size() - plain.size());
    ASSERT_EQ(stray.substr(junk.size()), plain);
    const auto out = Set(stray, kShiftJis, kUtf8);
    ASSERT_TRUE(out);
    EXPECT_EQ(*out, std::string("ID3\x03\0\0\0\0\0\x26", 10) + NewComm(std::string("\0\0\0\x1C", 4)) + stray);
    EXPECT_EQ(Set(*out, kShiftJis, kUtf8), *out);
    EXPECT_EQ(Set(*out, "", ""), std::string("ID3\x03\0\0\0\0\0\x26", 10) + std::string(0x26, '\0') + stray);
    EXPECT_EQ(Set(stray, "", ""), stray);

    // Refused: fewer than four frames in a run, the run beyond the first
    // 64 KiB, and frames inside a container that must start the file.
    const std::string refused[] = {
        junk + plain.substr(0, 300),
        std::string(64 * 1024, '\0') + plain,
        "RIFF" + junk + plain,
        std::string("\0\0\0\x20", 4) + "ftyp" + junk + plain,
    };
    for (const std::string& file : refused) {
        SCOPED_TRACE(&file - refused);
        EXPECT_FALSE(kes::Mp3Read(file));
        EXPECT_FALSE(Set(file, "x", "x"));
    }
    EXPECT_TRUE(Set(std::string(64 * 1024 - 1, '\0') + plain, "x", "x"));
}

TEST(Mp3Core, AVersion4ChecksumIsComputedAnewAndTheEncodingRestrictionKept) {
    // Made by make_id3.py: the extended header (size, flag bytes, flags,
    // the checksum's length and five bytes, the restrictions' length and
    // byte), then TIT2 and COMM frames and 32 bytes of padding.
    const std::string original = Sample("crc.mp3");
    const size_t frames = 10 + 14;
    ASSERT_EQ(original.substr(10, 6), std::string("\0\0\0\x0E\x01\x30", 6));
    const auto checksum = [](const std::string& mp3) {
        const size_t end = 10 + Size(mp3, 6, true);
        const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(mp3.data() + frames), end - frames);
        return std::make_pair(Size(mp3, 17, true, 5), static_cast<size_t>(crc));
    };
    ASSERT_EQ(checksum(original).first, checksum(original).second);

    const auto out = Set(original, kShiftJis, kUtf8);
    ASSERT_TRUE(out);
    EXPECT_EQ(checksum(*out).first, checksum(*out).second);
    EXPECT_NE(checksum(*out).first, checksum(original).first);
    EXPECT_EQ(out->substr(10, 7), original.substr(10, 7));
    EXPECT_EQ(out->substr(22, 2), original.substr(22, 2)) << "the restrictions stay";
    // Latin-1 or UTF-8 only: the frame is UTF-8, line breaks as LF.
    EXPECT_EQ(Frames(*out)[1].bytes, std::string("COMM\0\0\0\x16\0\0\x03" "eng\0", 15) +
                                         "\xE3\x82\xB3\xE3\x83\xA1\xE3\x83\xB3\xE3\x83\x88\nline");
    EXPECT_EQ(Set(*out, kShiftJis, kUtf8), *out);
    const auto removed = Set(*out, "", "");
    ASSERT_TRUE(removed);
    EXPECT_EQ(Ids(*removed), (std::vector<std::string>{"TIT2"}));
    EXPECT_EQ(checksum(*removed).first, checksum(*removed).second);

    std::string wrong = original;
    wrong[21] ^= 1;
    EXPECT_FALSE(kes::Mp3Read(wrong));
    EXPECT_FALSE(Set(wrong, "x", "x"));
    // At most 4 KB of tag: a comment that would outgrow it is refused.
    std::string small = original;
    small[23] = '\xE0';
    EXPECT_TRUE(Set(small, std::string(1000, 'x'), std::string(1000, 'x')));
    const kes::Rewrite tooLong = kes::Mp3SetComment(small, std::string(5000, 'x'), std::string(5000, 'x'));
    EXPECT_FALSE(tooLong);
    EXPECT_EQ(tooLong.Why(), kes::Refusal::kCommentTooLong);
}

TEST(Mp3Core, AnApeCommentItemFollowsTheCommentAndItsOtherItemsStay) {
    const std::string original = Sample("ape.mp3");
    ASSERT_EQ(kes::Mp3Read(original)->ape, "old APE comment");
    const size_t v1 = original.size() - 128, header = original.find("APETAGEX");
    ASSERT_NE(header, std::string::npos);
    const std::string artist = ApeItem("Artist", "Kestrane");
    ASSERT_NE(original.find(artist), std::string::npos);

    const auto out = Set(original, kShiftJis, kUtf8);
    ASSERT_TRUE(out);
    const std::string text = "\xE3\x82\xB3\xE3\x83\xA1\xE3\x83\xB3\xE3\x83\x88\nline";
    const std::string items = artist + ApeItem("Comment", text);
    const size_t begin = out->size() - 128 - 32 - items.size() - 32;
    EXPECT_EQ(out->substr(begin, 12), original.substr(header, 12));
    EXPECT_EQ(out->substr(begin + 12, 8), Le32(items.size() + 32) + Le32(2)) << "the header follows the change";
    EXPECT_EQ(out->substr(begin + 32, items.size() + 20), items + original.substr(v1 - 32, 20).substr(0, 12) +
                                                           Le32(items.size() + 32) + Le32(2));
    EXPECT_EQ(out->substr(out->size() - 128 - 12), original.substr(v1 - 12, 12) + out->substr(out->size() - 128));
    EXPECT_EQ(kes::Mp3Read(*out)->ape, text);
    EXPECT_EQ(Set(*out, kShiftJis, kUtf8), *out);

    const auto removed = Set(*out, "", "");
    ASSERT_TRUE(removed);
    EXPECT_EQ(kes::Mp3Read(*removed)->ape, "");
    EXPECT_EQ(removed->substr(removed->size() - 128 - 32 - artist.size(), artist.size() + 20),
              artist + "APETAGEX" + Le32(2000) + Le32(artist.size() + 32) + Le32(1));

    // A tag that does not hold together is refused: its size past the
    // audio, an item past the footer, a key that is no key, a header that
    // disagrees with the footer, and a Comment that is no text.
    const std::string plain = Sample("plain.mp3");
    const std::string comment = ApeItem("Comment", "c");
    std::string binary = comment;
    binary[4] = 2;
    const std::string damaged[] = {
        plain + ApeTag(artist, 1).replace(artist.size() + 12, 4, Le32(100000)),
        plain + ApeTag(artist, 2),
        plain + ApeTag(ApeItem("K\x01y", "v"), 1),
        std::string(original).replace(header + 16, 4, Le32(3)),
        plain + ApeTag(binary, 1),
    };
    for (const std::string& file : damaged) {
        SCOPED_TRACE(&file - damaged);
        EXPECT_FALSE(kes::Mp3Read(file));
        EXPECT_FALSE(Set(file, "x", "x"));
    }
    EXPECT_TRUE(Set(plain + ApeTag(artist + comment, 2), "x", "x"));
}

TEST(Mp3Core, AnUnsynchronisedTagReadsAndIsWrittenAsItsPlainFormWithTheAudioWhereItWas) {
    // v2.2's UTF-16 byte order marks ($FF $FE) and v2.4's are what the
    // scheme changes here.
    const std::pair<const char*, bool> kCases[] = {{"v22.mp3", true}, {"v24.mp3", false}, {"v24.mp3", true}};
    for (const auto& [name, tagFlag] : kCases) {
        SCOPED_TRACE(std::string(name) + (tagFlag ? " (the tag's flag)" : " (the frames' flags)"));
        const std::string plain = Sample(name), unsynchronised = UnsynchroniseTag(plain, tagFlag);
        ASSERT_GT(unsynchronised.size(), plain.size()) << "nothing for the scheme to change";
        const auto read = kes::Mp3Read(unsynchronised);
        ASSERT_TRUE(read);
        EXPECT_EQ(read->comment, kes::Mp3Read(plain)->comment);
        EXPECT_EQ(read->rest, kes::Mp3Read(plain)->rest);
        const auto out = Set(unsynchronised, kShiftJis, kUtf8), expected = Set(plain, kShiftJis, kUtf8);
        ASSERT_TRUE(out && expected);
        EXPECT_EQ(out->size(), unsynchronised.size());
        EXPECT_EQ(out->substr(3, 3), plain.substr(3, 3)) << "the flag goes";
        std::vector<std::string> frames, plainFrames;
        for (const Frame& f : Frames(*out)) frames.push_back(f.bytes);
        for (const Frame& f : Frames(*expected)) plainFrames.push_back(f.bytes);
        EXPECT_EQ(frames, plainFrames);
        EXPECT_EQ(Set(*out, kShiftJis, kUtf8), *out);
    }
}

TEST(Mp3Core, TagsThePeersReadKeepEveryOtherFrameAsItsReadersReadIt) {
    // Made by make_id3.py: frame contents with false syncs and $FF $00,
    // encrypted and compressed frames, v2.4 sizes as plain integers (one of
    // 209 bytes) and ids of a space and lower-case letters.
    const std::string syncs("\xFF\xFB\x90\x00\xFF\x00\xFF\xE0\xFF\x41", 10);
    const std::string priv = std::string("PRIV\0\0\0\x13\0\0kestrane\0", 19) + syncs;
    const struct {
        const char* name;
        const char* comment;
        std::vector<std::string> ids;
        std::vector<std::string> kept;  // bytes of frames, kept as their readers read them
    } kCases[] = {
        {"unsync23.mp3", "old comment", {"TIT2", "COMM", "PRIV", "PRIV"},
         {priv, std::string("PRIV\0\0\0\x0B\0\x40\x80", 11) + syncs}},
        // The compressed frame keeps its flags and data length but for
        // unsynchronisation: 136 bytes, inflated.
        {"unsync24.mp3", "old comment \xC3\xBF", {"TIT2", "COMM", "PRIV", "PRIV", "TXXX"},
         {priv, std::string("PRIV\0\0\0\x10\0\0plain\0", 16) + syncs, std::string("\0\x09\0\0\x01\x08\x78\x9C", 8)}},
        {"plain24.mp3", "old comment", {"TIT2", "COMM", "PRIV", "TYE ", "tDAT"},
         {std::string("PRIV\0\0\x01\x51\0\0kestrane\0", 19), std::string("TYE \0\0\0\x05\0\0\x03" "2009", 15)}},
    };
    const std::string audio = Sample("plain.mp3");
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        const std::string original = Sample(c.name);
        const auto read = kes::Mp3Read(original);
        ASSERT_TRUE(read);
        EXPECT_EQ(read->comment, c.comment);
        const auto out = Set(original, kShiftJis, kUtf8);
        ASSERT_TRUE(out);
        EXPECT_EQ(out->size(), original.size());
        EXPECT_EQ(out->substr(out->size() - audio.size()), audio);
        EXPECT_EQ((*out)[5], 0);
        EXPECT_EQ(Ids(*out), c.ids);
        for (const Frame& f : Frames(*out)) EXPECT_EQ(f.bytes[9] & 2, 0) << f.id;
        EXPECT_EQ(Frames(*out)[1].bytes, NewComm(std::string("\0\0\0\x1C", 4)));
        for (const std::string& bytes : c.kept) EXPECT_NE(out->find(bytes), std::string::npos) << bytes;
        EXPECT_EQ(kes::Mp3Read(*out)->comment, "\xE3\x82\xB3\xE3\x83\xA1\xE3\x83\xB3\xE3\x83\x88\nline");
        EXPECT_EQ(Set(*out, kShiftJis, kUtf8), *out);
    }
}
