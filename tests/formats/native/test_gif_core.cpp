#include <gtest/gtest.h>

#include "CoreTestSupport.h"
#include "GifComment.h"

using kes::GifReadComment;
constexpr auto GifSetComment = kes_test::JoinedOutput<kes::GifSetComment>;
using kes_test::Sample;

namespace {

size_t HeaderSize(const std::string& gif) {
    const unsigned flags = static_cast<unsigned char>(gif[10]);
    return 13 + (flags & 0x80 ? 3u << ((flags & 7) + 1) : 0);
}

std::string CommentExtension(const std::string& text) {
    return std::string("\x21\xFE", 2) + static_cast<char>(text.size()) + text + '\0';
}

}  // namespace

TEST(GifCore, TheCommentGoesBeforeTheFirstImageAndItsGraphicControl) {
    const std::string plain = Sample("plain.gif");
    ASSERT_EQ(GifReadComment(plain), "");
    const auto out = GifSetComment(plain, "hello");
    ASSERT_TRUE(out);
    const size_t header = HeaderSize(plain);
    EXPECT_EQ(*out, plain.substr(0, header) + CommentExtension("hello") + plain.substr(header));
    EXPECT_EQ(GifSetComment(*out, ""), plain);

    // Animated: a graphic control before each image; the comment goes in
    // front of the first one, not between it and its image.
    const std::string animated = Sample("animated.gif");
    const size_t control = animated.find("\x21\xF9");
    ASSERT_NE(control, std::string::npos);
    const auto anim = GifSetComment(animated, "loop");
    ASSERT_TRUE(anim);
    EXPECT_EQ(*anim, animated.substr(0, control) + CommentExtension("loop") + animated.substr(control));
}

TEST(GifCore, AnOldVersionHeaderIsRaisedOnlyWhenACommentIsWritten) {
    const std::string old = Sample("old87a.gif");
    ASSERT_EQ(old.substr(0, 6), "GIF87a");
    const auto out = GifSetComment(old, "x");
    ASSERT_TRUE(out);
    EXPECT_EQ(out->substr(0, 6), "GIF89a");
    EXPECT_EQ(GifReadComment(*out), "x");
    const auto removed = GifSetComment(*out, "");
    ASSERT_TRUE(removed);
    EXPECT_EQ(removed->substr(6), old.substr(6));
    EXPECT_EQ(GifSetComment(old, ""), old);
}

TEST(GifCore, CommentsUseSubBlocksOfAtMost255BytesAndReplaceEveryOldOne) {
    const std::string commented = Sample("commented.gif");
    ASSERT_EQ(GifReadComment(commented), "old comment");
    const size_t trailer = commented.size() - 1;
    const std::string twice =
        commented.substr(0, trailer) + CommentExtension("more") + commented.substr(trailer);
    ASSERT_EQ(GifReadComment(twice), "old commentmore");

    const std::string text = std::string(255, 'a') + std::string(255, 'b') + "cc";
    const auto out = GifSetComment(twice, text);
    ASSERT_TRUE(out);
    EXPECT_EQ(GifReadComment(*out), text);
    const std::string blocks = std::string("\x21\xFE\xFF", 3) + std::string(255, 'a') + '\xFF' +
                               std::string(255, 'b') + '\x02' + "cc" + '\0';
    EXPECT_NE(out->find(blocks), std::string::npos);
    EXPECT_EQ(out->find("old comment"), std::string::npos);
    EXPECT_EQ(out->find("more"), std::string::npos);
}

TEST(GifCore, DamagedAndForeignFilesAreRefused) {
    const std::string plain = Sample("plain.gif");
    std::string unknownBlock = plain;
    unknownBlock[HeaderSize(plain)] = '\x42';
    const std::string damaged[] = {
        "",
        "GIF89a",
        plain.substr(0, plain.size() - 1),  // no trailer
        plain.substr(0, plain.size() / 2),
        unknownBlock,
        "GIF90a" + plain.substr(6),
        "text that is named .gif",
        Sample("plain.png"),
    };
    for (const std::string& file : damaged) {
        SCOPED_TRACE(file.size());
        EXPECT_FALSE(GifReadComment(file));
        EXPECT_FALSE(GifSetComment(file, "x"));
    }
}
