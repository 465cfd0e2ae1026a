#include <gtest/gtest.h>

#include "CoreTestSupport.h"
#include "WavComment.h"

using kes_test::Sample;

namespace {

// "コメント\r\nline" as the tool gives it, and as UTF-8.
const std::string kShiftJis = "\x83\x52\x83\x81\x83\x93\x83\x67\r\nline";
const std::string kUtf8 = "\xE3\x82\xB3\xE3\x83\xA1\xE3\x83\xB3\xE3\x83\x88\r\nline";

std::optional<std::string> Set(const std::string& file, const std::string& sjis, const std::string& utf8) {
    return kes::Joined(kes::WavSetComment(file, sjis, utf8));
}

std::string Le32(size_t v) {
    std::string s;
    for (int i = 0; i < 4; ++i) s += static_cast<char>(v >> 8 * i & 0xFF);
    return s;
}
size_t Le32(const std::string& s, size_t at) {
    size_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(s[at + i]);
    return v;
}

std::string Chunk(const std::string& id, const std::string& data, bool pad = true) {
    return id + Le32(data.size()) + data + (data.size() % 2 && pad ? std::string(1, '\0') : "");
}
std::string Riff(const std::string& chunks, long extra = 0) {
    return "RIFF" + Le32(4 + chunks.size() + extra) + "WAVE" + chunks;
}

// The chunks (id and data), read here without the core; the RIFF size must
// count exactly the chunks and their pad bytes.
std::vector<std::pair<std::string, std::string>> Chunks(const std::string& wav) {
    EXPECT_EQ(Le32(wav, 4), wav.size() - 8);
    std::vector<std::pair<std::string, std::string>> chunks;
    for (size_t at = 12; at + 8 <= wav.size(); at += 8 + Le32(wav, at + 4) + Le32(wav, at + 4) % 2)
        chunks.push_back({wav.substr(at, 4), wav.substr(at + 8, Le32(wav, at + 4))});
    return chunks;
}

// The chunks other than the INFO list and the id3 chunk.
std::vector<std::pair<std::string, std::string>> Others(const std::string& wav) {
    std::vector<std::pair<std::string, std::string>> others;
    for (const auto& c : Chunks(wav))
        if (c.first != "id3 " && c.second.rfind("INFO", 0) != 0) others.push_back(c);
    return others;
}

// The comment frame a new v2.3 tag gets: UTF-16 with a byte order mark.
std::string Id3With(const std::string& utf16) {
    const std::string comm = std::string("\x01" "eng\xFF\xFE\0\0\xFF\xFE", 10) + utf16;
    const std::string frame = "COMM" + std::string("\0\0\0", 3) + static_cast<char>(comm.size()) + std::string(2, '\0');
    return std::string("ID3\x03\0\0\0\0\0", 9) + static_cast<char>(frame.size() + comm.size()) + frame + comm;
}

}  // namespace

TEST(WavCore, TheCommentGoesIntoTheInfoListAndANewId3ChunkAndRemovingItGivesTheToolsFileBack) {
    const std::string commented = Sample("commented.wav");
    ASSERT_EQ(kes::WavRead(commented)->icmt, "old comment");
    const auto out = Set(commented, kShiftJis, kUtf8);
    ASSERT_TRUE(out);
    const auto chunks = Chunks(*out), before = Chunks(commented);
    ASSERT_EQ(chunks.size(), 4u);
    EXPECT_EQ(chunks[0], before[0]);
    EXPECT_EQ(chunks[1].second, "INFO" + Chunk("ICMT", kShiftJis + '\0') + Chunk("INAM", std::string("Title\0", 6)));
    EXPECT_EQ(chunks[2], before[2]);
    EXPECT_EQ(chunks[3], std::make_pair(std::string("id3 "),
                                        Id3With(std::string("\xB3\x30\xE1\x30\xF3\x30\xC8\x30\n\0l\0i\0n\0e\0", 18))));
    const std::optional<kes::WavTags> read = kes::WavRead(*out);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->comment, "\xE3\x82\xB3\xE3\x83\xA1\xE3\x83\xB3\xE3\x83\x88\nline");
    EXPECT_EQ(read->icmt, kShiftJis);
    EXPECT_EQ(read->rest, kes::WavRead(commented)->rest);
    EXPECT_EQ(kes::WavRead(*Set(commented, "a\nb\rc", "a"))->icmt, "a\r\nb\r\nc");

    // As ffmpeg writes the file with the title alone.
    EXPECT_EQ(Set(*out, "", ""), Sample("titled.wav"));
    // Beyond code page 932: no ICMT item, the title stays.
    const auto unicode = Set(commented, "", "\xE2\x99\xA1");
    ASSERT_TRUE(unicode);
    EXPECT_EQ(Chunks(*unicode)[1].second, "INFO" + Chunk("INAM", std::string("Title\0", 6)));
    EXPECT_EQ(Chunks(*unicode)[3].second, Id3With(std::string("\x61\x26", 2)));
    EXPECT_FALSE(kes::WavRead(*unicode)->icmt);
}

TEST(WavCore, OtherChunksStayByteForByteAndPadBytesRight) {
    // Each sample, and the file that removing the comment gives back.
    const struct {
        std::string sample, bare;
    } files[] = {
        {"plain.wav", "plain.wav"}, {"odd.wav", "odd.wav"}, {"nopad.wav", "odd.wav"},
        {"broadcast.wav", "broadcast_uncommented.wav"}, {"tagged.wav", ""},
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.sample);
        const std::string original = Sample(f.sample);
        const auto out = Set(original, "x", "x");
        ASSERT_TRUE(out);
        EXPECT_EQ(Others(*out), Others(f.sample == "nopad.wav" ? Sample("odd.wav") : original));
        const std::optional<kes::WavTags> read = kes::WavRead(*out);
        ASSERT_TRUE(read);
        EXPECT_EQ(read->comment, "x");
        EXPECT_EQ(read->icmt, "x");
        EXPECT_EQ(read->rest, kes::WavRead(original)->rest);
        if (!f.bare.empty()) {
            EXPECT_EQ(Set(*out, "", ""), Sample(f.bare));
        }
    }
}

TEST(WavCore, AnId3ChunkKeepsItsOtherFramesAndVersionAndItsFrameIsReadFirst) {
    const std::string tagged = Sample("tagged.wav");
    const kes::WavTags before = *kes::WavRead(tagged);
    EXPECT_EQ(before.comment, "id3 comment");
    EXPECT_EQ(before.icmt, "old comment");
    const auto out = Set(tagged, kShiftJis, kUtf8);
    ASSERT_TRUE(out);
    const std::string id3 = Chunks(*out).back().second;
    EXPECT_EQ(id3.substr(0, 4), "ID3\x04");
    EXPECT_NE(id3.find("TIT2"), std::string::npos);
    EXPECT_NE(id3.find("iTunNORM"), std::string::npos);
    EXPECT_EQ(kes::WavRead(*out)->comment, "\xE3\x82\xB3\xE3\x83\xA1\xE3\x83\xB3\xE3\x83\x88\nline");
    // Without the comment, another program's tag stays, with its title.
    const auto removed = Set(*out, "", "");
    ASSERT_TRUE(removed);
    EXPECT_EQ(Chunks(*removed).back().first, "id3 ");
    EXPECT_EQ(kes::WavRead(*removed)->comment, "");
    EXPECT_EQ(kes::WavRead(*removed)->rest, before.rest);
}

TEST(WavCore, ARiffSizeThatCountsOrLeavesOutTheLastPadByteIsTakenAndKeptWhileThatChunkStaysLast) {
    const std::string plain = Sample("plain.wav");
    const std::string fmt = Chunk("fmt ", Chunks(plain)[0].second), odd = std::string(99, '\x80');
    const std::string tags = Chunk("LIST", "INFO" + Chunk("ICMT", std::string("old\0", 4))) +
                             Chunk("id3 ", Id3With(std::string("o\0", 2)));
    // The file, and how far its RIFF size stands off from the chunks it holds.
    const struct {
        std::string file;
        long offset;
    } files[] = {
        {Riff(fmt + tags + Chunk("data", odd, false), 1), 1},   // counts the missing pad byte
        {Riff(fmt + tags + Chunk("data", odd, false)), 0},      // leaves it out
        {Riff(fmt + tags + Chunk("data", odd), -1), -1},        // leaves out the pad byte that is there
        {Riff(fmt + Chunk("data", odd, false), 1), 0},          // tags added after it: the pad byte too
        {Riff(fmt + tags + Chunk("data", odd)), 0},
    };
    for (const auto& f : files) {
        SCOPED_TRACE(&f - files);
        const auto out = Set(f.file, "new", "new");
        ASSERT_TRUE(out);
        EXPECT_EQ(static_cast<long>(Le32(*out, 4) - (out->size() - 8)), f.offset);
        EXPECT_EQ(kes::WavRead(*out)->comment, "new");
        EXPECT_EQ(kes::WavRead(*out)->rest, kes::WavRead(f.file)->rest);
    }
}

TEST(WavCore, DamagedAndForeignFilesAndUnwritableCommentsAreRefused) {
    const std::string plain = Sample("plain.wav");
    const std::string fmt = Chunk("fmt ", Chunks(plain)[0].second), data = Chunk("data", "ab");
    const std::string info = Chunk("LIST", "INFO" + Chunk("INAM", "x"));
    const std::string tag = Id3With(std::string("o\0", 2)), id3 = Chunk("id3 ", tag);
    std::string unsynchronised = tag;
    unsynchronised[5] = '\x80';
    const std::string damaged[] = {
        "",
        plain.substr(0, 11),
        plain.substr(0, 100),                        // cut short
        plain + "TAG",                               // bytes after the RIFF chunk
        Riff(fmt + data, 2),                         // a RIFF size past the file
        Riff(fmt + data, -2),
        Riff(fmt + Chunk("data", "abc", false), -1), // no pad byte to leave out
        Riff(fmt + data + "JUNK" + Le32(100) + "x"), // a chunk past the end
        Riff(fmt + data + std::string(8, '\0')),    // an id that is no text
        Riff(fmt + data + "ab"),                     // less than a chunk header
        Riff(data),
        Riff(fmt + data + data),
        Riff(fmt + info + data + info),
        Riff(fmt + data + id3 + Chunk("ID3 ", tag)),
        Riff(fmt + data + Chunk("id3 ", "no tag")),
        Riff(fmt + data + Chunk("id3 ", unsynchronised)),
        Riff(fmt + data + Chunk("LIST", "IN")),
        Riff(fmt + data + Chunk("LIST", "INFO" + Chunk("ICMT", "x", false) + "INAM")),
        "RIFX" + plain.substr(4),
        "RF64" + plain.substr(4),
        Sample("rf64.wav"),
        plain.substr(0, 8) + "AVI " + plain.substr(12),
        Sample("plain.mp3"),
    };
    for (const std::string& file : damaged) {
        SCOPED_TRACE(&file - damaged);
        EXPECT_FALSE(kes::WavRead(file));
        EXPECT_FALSE(Set(file, "", ""));
    }
    EXPECT_FALSE(Set(plain, "", "\x83\x52"));  // Shift_JIS, not UTF-8
    EXPECT_FALSE(Set(plain, "", std::string("a\0b", 3)));
    EXPECT_FALSE(Set(plain, std::string("a\0b", 3), "ab"));
    // The parts above as they are, without the fault, are taken.
    EXPECT_EQ(kes::WavRead(Riff(fmt + info + data + Chunk("ID3 ", tag)))->comment, "o");
}
