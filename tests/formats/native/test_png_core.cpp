#include <gtest/gtest.h>
#include <zlib.h>

#include "CoreTestSupport.h"
#include "PngComment.h"

using kes::PngReadComment;
constexpr auto PngSetComment = kes_test::JoinedOutput<kes::PngSetComment>;
using kes_test::Sample;

namespace {

struct Chunk {
    std::string type, data;
    bool crcGood;
};

unsigned Be32(const std::string& s, size_t at) {
    return static_cast<unsigned>(
        static_cast<unsigned char>(s[at]) << 24 | static_cast<unsigned char>(s[at + 1]) << 16 |
        static_cast<unsigned char>(s[at + 2]) << 8 | static_cast<unsigned char>(s[at + 3]));
}

// The chunks, read here without the core, each with its CRC checked.
std::vector<Chunk> Chunks(const std::string& png) {
    std::vector<Chunk> chunks;
    for (size_t at = 8; at + 12 <= png.size();) {
        const size_t length = Be32(png, at);
        const std::string typeAndData = png.substr(at + 4, 4 + length);
        const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(typeAndData.data()), typeAndData.size());
        chunks.push_back(
            {typeAndData.substr(0, 4), typeAndData.substr(4), crc == Be32(png, at + 8 + length)});
        at += 12 + length;
    }
    return chunks;
}

std::vector<std::string> Types(const std::string& png) {
    std::vector<std::string> types;
    for (const Chunk& c : Chunks(png)) types.push_back(c.type);
    return types;
}

const Chunk* CommentChunk(const std::vector<Chunk>& chunks) {
    for (const Chunk& c : chunks)
        if (c.data.compare(0, 8, std::string("Comment\0", 8)) == 0) return &c;
    return nullptr;
}

}  // namespace

TEST(PngCore, Latin1TextGoesInTextAndAnythingElseInInternationalTextBeforeTheImageData) {
    const std::string original = Sample("plain.png");
    ASSERT_EQ(PngReadComment(original), "");
    std::vector<std::string> types = Types(original);
    const auto idat = std::find(types.begin(), types.end(), "IDAT");
    ASSERT_NE(idat, types.end());
    types.insert(idat, "tEXt");

    const auto latin = PngSetComment(original, "caf\xC3\xA9 au lait");
    ASSERT_TRUE(latin);
    EXPECT_EQ(Types(*latin), types);
    std::vector<Chunk> chunks = Chunks(*latin);
    for (const Chunk& c : chunks) EXPECT_TRUE(c.crcGood) << c.type;
    ASSERT_TRUE(CommentChunk(chunks));
    EXPECT_EQ(CommentChunk(chunks)->data, std::string("Comment\0caf\xE9 au lait", 20));
    EXPECT_EQ(PngReadComment(*latin), "caf\xC3\xA9 au lait");

    const std::string japanese = "\xE3\x82\xB3\xE3\x83\xA1\xE3\x83\xB3\xE3\x83\x88";  // コメント
    const auto unicode = PngSetComment(*latin, japanese);
    ASSERT_TRUE(unicode);
    *std::find(types.begin(), types.end(), "tEXt") = "iTXt";
    EXPECT_EQ(Types(*unicode), types);
    chunks = Chunks(*unicode);
    for (const Chunk& c : chunks) EXPECT_TRUE(c.crcGood) << c.type;
    EXPECT_EQ(CommentChunk(chunks)->data, std::string("Comment\0\0\0\0\0", 12) + japanese);
    EXPECT_EQ(PngReadComment(*unicode), japanese);

    EXPECT_EQ(PngSetComment(*unicode, ""), original);
}

TEST(PngCore, LineBreaksBecomeLineFeedsAndOtherTextChunksStay) {
    const std::string commented = Sample("commented.png");
    ASSERT_EQ(PngReadComment(commented), "old comment");
    const auto out = PngSetComment(commented, "one\r\ntwo\rthree\nfour");
    ASSERT_TRUE(out);
    EXPECT_EQ(PngReadComment(*out), "one\ntwo\nthree\nfour");
    int comments = 0, dates = 0;
    for (const Chunk& c : Chunks(*out)) {
        comments += CommentChunk({c}) != nullptr;
        dates += c.data.compare(0, 5, "date:") == 0;
    }
    EXPECT_EQ(comments, 1);
    EXPECT_EQ(dates, 2);
    // ImageMagick names its chunk "comment"; that one is gone as well.
    ASSERT_NE(commented.find(std::string("comment\0old comment", 19)), std::string::npos);
    EXPECT_EQ(out->find("old comment"), std::string::npos);
}

TEST(PngCore, CompressedCommentsAreReplacedToo) {
    const std::string plain = Sample("plain.png");
    // A zTXt and a compressed iTXt "Comment" as other programs write them.
    auto chunk = [](const std::string& type, const std::string& data) {
        std::string out;
        for (int shift : {24, 16, 8, 0}) out += static_cast<char>(data.size() >> shift & 0xFF);
        const std::string typeAndData = type + data;
        const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(typeAndData.data()), typeAndData.size());
        out += typeAndData;
        for (int shift : {24, 16, 8, 0}) out += static_cast<char>(crc >> shift & 0xFF);
        return out;
    };
    auto deflated = [](const std::string& text) {
        uLongf size = compressBound(text.size());
        std::string out(size, '\0');
        compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(text.data()), text.size());
        out.resize(size);
        return out;
    };
    const size_t afterHeader = 8 + 25;
    const std::string withCompressed =
        plain.substr(0, afterHeader) + chunk("zTXt", std::string("Comment\0\0", 9) + deflated("caf\xE9 ")) +
        chunk("iTXt", std::string("Comment\0\1\0\0\0", 12) + deflated("\xE5\x8F\xA4\xE3\x81\x84")) +
        chunk("zTXt", std::string("Comment\0\0not zlib", 17)) + plain.substr(afterHeader);
    // Read as the setter finds them: inflated, or U+FFFD where that fails.
    EXPECT_EQ(PngReadComment(withCompressed), "caf\xC3\xA9 \xE5\x8F\xA4\xE3\x81\x84\xEF\xBF\xBD");
    const auto out = PngSetComment(withCompressed, "new");
    ASSERT_TRUE(out);
    EXPECT_EQ(PngReadComment(*out), "new");
    EXPECT_EQ(PngSetComment(withCompressed, ""), plain);
}

TEST(PngCore, DamagedFilesAndUnwritableCommentsAreRefused) {
    const std::string plain = Sample("plain.png");
    std::string badCrc = plain;
    badCrc[plain.find("IDAT") + 6] ^= 1;
    const std::string damaged[] = {
        "",
        plain.substr(0, 8),
        plain.substr(0, plain.size() - 12),  // no IEND
        plain.substr(0, plain.size() - 1),
        badCrc,
        plain.substr(0, 8) + plain.substr(8 + 25),  // no IHDR
        "text that is named .png",
        Sample("plain.jpg"),
    };
    for (const std::string& file : damaged) {
        SCOPED_TRACE(file.size());
        EXPECT_FALSE(PngReadComment(file));
        EXPECT_FALSE(PngSetComment(file, "x"));
    }
    EXPECT_FALSE(PngSetComment(plain, std::string("nul\0inside", 10)));
    EXPECT_FALSE(PngSetComment(plain, "\x83\x52"));      // Shift_JIS, not UTF-8
    EXPECT_FALSE(PngSetComment(plain, "\xC0\xAF"));      // overlong
    EXPECT_FALSE(PngSetComment(plain, "\xED\xA0\x80"));  // a surrogate
    EXPECT_FALSE(PngSetComment(plain, "\xE3\x82"));      // cut short
}
