#include <gtest/gtest.h>

#include <algorithm>

#include "CoreTestSupport.h"
#include "FlacComment.h"

constexpr auto FlacSetComment = kes_test::JoinedOutput<kes::FlacSetComment>;
using kes_test::Sample;

namespace {

struct Block {
    int type;
    bool last;
    std::string data;
};

// The metadata blocks, read here without the core; `audio` is where they end.
std::vector<Block> Blocks(const std::string& flac, size_t* audio = nullptr) {
    std::vector<Block> blocks;
    size_t at = flac.find("fLaC") + 4;
    for (bool last = false; !last && at + 4 <= flac.size();) {
        const auto byte = [&](size_t i) { return static_cast<unsigned char>(flac[at + i]); };
        const size_t length = byte(1) << 16 | byte(2) << 8 | byte(3);
        last = byte(0) & 0x80;
        blocks.push_back({byte(0) & 0x7F, last, flac.substr(at + 4, length)});
        at += 4 + length;
    }
    if (audio) *audio = at;
    return blocks;
}

std::vector<int> Types(const std::string& flac) {
    std::vector<int> types;
    for (const Block& b : Blocks(flac)) types.push_back(b.type);
    return types;
}

std::string Audio(const std::string& flac) {
    size_t audio = 0;
    Blocks(flac, &audio);
    return flac.substr(audio);
}

std::string Le32(size_t v) {
    std::string s;
    for (int i = 0; i < 4; ++i) s += static_cast<char>(v >> (8 * i) & 0xFF);
    return s;
}

// A Vorbis comment block's data: the vendor and the fields.
std::string CommentBlock(const std::string& vendor, const std::vector<std::string>& fields) {
    std::string block = Le32(vendor.size()) + vendor + Le32(fields.size());
    for (const std::string& f : fields) block += Le32(f.size()) + f;
    return block;
}
const std::string kVendor = "reference libFLAC 1.4.2 20221022";

}  // namespace

TEST(FlacCore, EveryCommentFieldGivesWayToOneInThePlaceOfTheFirstAndPaddingTakesUpTheChange) {
    const std::string original = Sample("commented.flac");
    ASSERT_EQ(kes::FlacRead(original)->comment, "old comment\nsecond old one");
    const auto out = FlacSetComment(original, "new\r\nline");
    ASSERT_TRUE(out);
    EXPECT_EQ(out->size(), original.size());
    EXPECT_EQ(Audio(*out), Audio(original));
    const std::vector<Block> before = Blocks(original), after = Blocks(*out);
    ASSERT_EQ(Types(*out), Types(original));
    ASSERT_EQ(before[2].data.substr(4, kVendor.size()), kVendor);
    EXPECT_EQ(after[2].data, CommentBlock(kVendor, {"TITLE=Title", "COMMENT=new\nline"}));
    for (size_t i : {0, 1}) EXPECT_EQ(after[i].data, before[i].data);
    EXPECT_TRUE(after.back().last && !after[2].last);

    const auto removed = FlacSetComment(*out, "");
    ASSERT_TRUE(removed);
    EXPECT_EQ(removed->size(), original.size());
    EXPECT_EQ(Blocks(*removed)[2].data, CommentBlock(kVendor, {"TITLE=Title"}));

    // Too long for the padding: the file grows and the padding stays.
    const std::string longer(1000, 'x');
    const auto grown = FlacSetComment(original, longer);
    ASSERT_TRUE(grown);
    EXPECT_EQ(Blocks(*grown).back().data, before.back().data);
    EXPECT_EQ(kes::FlacRead(*grown)->comment, longer);
    EXPECT_EQ(Audio(*grown), Audio(original));
}

TEST(FlacCore, TheFirstOfTwoCommentBlocksTakesTheCommentAndTheSecondLosesItsOwn) {
    // Made by make_samples.sh: commented.flac with a second block after
    // its comment block, holding a COMMENT and an ARTIST field.
    const std::string two = Sample("two.flac");
    ASSERT_EQ(Types(two), (std::vector<int>{0, 3, 4, 4, 1}));
    const auto read = kes::FlacRead(two);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->comment, "old comment\nsecond old one\nsecond block comment");
    const auto out = FlacSetComment(two, "new");
    ASSERT_TRUE(out);
    EXPECT_EQ(out->size(), two.size()) << "the padding takes up the change";
    const std::vector<Block> after = Blocks(*out);
    ASSERT_EQ(Types(*out), Types(two));
    EXPECT_EQ(after[2].data, CommentBlock(kVendor, {"TITLE=Title", "COMMENT=new"}));
    EXPECT_EQ(after[3].data, CommentBlock(kVendor, {"ARTIST=Second"}));
    EXPECT_EQ(Audio(*out), Audio(two));
    EXPECT_EQ(kes::FlacRead(*out)->comment, "new");
    EXPECT_EQ(FlacSetComment(*out, "new"), *out);
}

TEST(FlacCore, AFileWithoutCommentBlockGetsOneAfterStreamInfoAndATagInFrontIsKept) {
    const std::string bare = Sample("noblock.flac");
    ASSERT_EQ(Types(bare), (std::vector<int>{0, 3}));
    EXPECT_EQ(FlacSetComment(bare, ""), bare);
    const auto out = FlacSetComment(bare, "\xE3\x82\xB3\xE3\x83\xA1");
    ASSERT_TRUE(out);
    const std::vector<Block> blocks = Blocks(*out);
    ASSERT_EQ(Types(*out), (std::vector<int>{0, 4, 3}));
    EXPECT_FALSE(blocks[0].last || blocks[1].last);
    EXPECT_TRUE(blocks[2].last);
    EXPECT_EQ(blocks[1].data, Le32(0) + Le32(1) + Le32(14) + "COMMENT=\xE3\x82\xB3\xE3\x83\xA1");
    EXPECT_EQ(Audio(*out), Audio(bare));

    const std::string tagged = Sample("id3.flac");
    const size_t marker = tagged.find("fLaC");
    ASSERT_GT(marker, 0u);
    // Nothing of the tag is read: unsynchronised, it is kept just the same.
    std::string unsynchronised = tagged;
    unsynchronised[5] = '\x80';
    for (const std::string& file : {tagged, unsynchronised}) {
        const auto kept = FlacSetComment(file, "x");
        ASSERT_TRUE(kept);
        EXPECT_EQ(kept->substr(0, marker + 4), file.substr(0, marker + 4));
        EXPECT_EQ(kes::FlacRead(*kept)->comment, "x");
    }
}

TEST(FlacCore, DamagedAndForeignFilesAndUnwritableCommentsAreRefused) {
    const std::string plain = Sample("plain.flac");
    size_t audio = 0;
    Blocks(plain, &audio);
    std::string runsPast = plain.substr(0, 4 + 4 + 34);
    runsPast += std::string("\x84\x00\x10\x00", 4) + "short";
    std::string lostLastFlag = plain;
    lostLastFlag[audio - 4 - Blocks(plain).back().data.size()] &= 0x7F;
    const std::string damaged[] = {
        "",
        "fLaC",
        plain.substr(0, audio - 1),
        runsPast,
        lostLastFlag,
        "RIFF" + plain,
        plain.substr(0, 4) + plain.substr(4 + 4 + 34),  // no STREAMINFO
        Sample("plain.mp3"),
    };
    for (const std::string& file : damaged) {
        SCOPED_TRACE(file.size());
        EXPECT_FALSE(kes::FlacRead(file));
        EXPECT_FALSE(FlacSetComment(file, ""));
    }
    EXPECT_FALSE(FlacSetComment(plain, "\x83\x52"));  // Shift_JIS, not UTF-8
    EXPECT_FALSE(FlacSetComment(plain, std::string("a\0b", 3)));
    // A block's length has 24 bits: the comment's field has room for as
    // much as the rest of the block leaves, and a longer one is too long.
    const std::vector<Block> blocks = Blocks(plain);
    const auto comments = std::find_if(blocks.begin(), blocks.end(), [](const Block& b) { return b.type == 4; });
    ASSERT_NE(comments, blocks.end());
    const size_t room = 0xFFFFFF - comments->data.size() - 4 - std::string("COMMENT=").size();
    EXPECT_TRUE(FlacSetComment(plain, std::string(room, 'x')));
    const kes::Rewrite tooLong = kes::FlacSetComment(plain, std::string(room + 1, 'x'));
    EXPECT_FALSE(tooLong);
    EXPECT_EQ(tooLong.Why(), kes::Refusal::kCommentTooLong);
}
