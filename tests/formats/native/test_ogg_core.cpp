#include <gtest/gtest.h>

#include <algorithm>

#include "CoreTestSupport.h"
#include "OggComment.h"

constexpr auto OggSetComment = kes_test::JoinedOutput<kes::OggSetComment>;
using kes_test::Sample;

namespace {

struct Page {
    std::string bytes;
    unsigned serial, sequence;
};

unsigned Le32(const std::string& s, size_t at) {
    unsigned v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(s[at + i]);
    return v;
}

// The pages, cut here by their own lengths.
std::vector<Page> Pages(const std::string& ogg) {
    std::vector<Page> pages;
    for (size_t at = 0; at + 27 <= ogg.size();) {
        const size_t segments = static_cast<unsigned char>(ogg[at + 26]);
        size_t size = 27 + segments;
        for (size_t i = 0; i < segments; ++i) size += static_cast<unsigned char>(ogg[at + 27 + i]);
        pages.push_back({ogg.substr(at, size), Le32(ogg, at + 14), Le32(ogg, at + 18)});
        at += size;
    }
    return pages;
}

// A page without its sequence number and checksum.
std::string Unnumbered(std::string page) { return page.replace(18, 8, 8, '\0'); }

std::string Le32(unsigned v) {
    std::string s;
    for (int i = 0; i < 4; ++i) s += static_cast<char>(v >> (8 * i) & 0xFF);
    return s;
}

// The file with one page's flags and sequence number changed, and its
// checksum made anew.
std::string Changed(const std::string& ogg, size_t index, char flags, unsigned sequence) {
    std::string out;
    const std::vector<Page> pages = Pages(ogg);
    for (size_t i = 0; i < pages.size(); ++i) {
        std::string page = pages[i].bytes;
        if (i == index) {
            page[5] = flags;
            page.replace(18, 8, Le32(sequence) + Le32(0));
            page.replace(22, 4, Le32(kes::OggCrc(0, page)));
        }
        out += page;
    }
    return out;
}

}  // namespace

TEST(OggCore, ALongCommentSpansPagesAndTheLaterPagesAreRenumbered) {
    const std::string plain = Sample("plain.ogg");
    const std::vector<Page> before = Pages(plain);
    ASSERT_EQ(before.size(), 3u);  // identification; comment and setup; audio

    const std::string longer(70000, 'k');
    const auto out = OggSetComment(plain, longer);
    ASSERT_TRUE(out);
    EXPECT_EQ(kes::OggRead(*out)->comment, longer);
    const std::vector<Page> after = Pages(*out);
    ASSERT_EQ(after.size(), 4u);
    EXPECT_EQ(after[0].bytes, before[0].bytes);
    for (size_t i = 0; i < after.size(); ++i) {
        EXPECT_EQ(after[i].sequence, i);
        EXPECT_EQ(after[i].serial, before[0].serial);
    }
    EXPECT_EQ(after[2].bytes[5], 1) << "the comment carries on from the page before";
    EXPECT_EQ(Unnumbered(after.back().bytes), Unnumbered(before.back().bytes));
    std::string unsummed = after.back().bytes;
    EXPECT_EQ(kes::OggCrc(0, unsummed.replace(22, 4, 4, '\0')), Le32(after.back().bytes, 22));

    // The comment and setup packets are laid as the encoder laid them.
    EXPECT_EQ(OggSetComment(*out, ""), plain);
}

TEST(OggCore, EveryCommentFieldGivesWayToOneAndOtherFieldsAndOpusPaddingStay) {
    const std::string vorbis = Sample("commented.ogg");
    ASSERT_EQ(kes::OggRead(vorbis)->comment, "old comment\nsecond old one");
    const auto out = OggSetComment(vorbis, "one\r\ntwo");
    ASSERT_TRUE(out);
    const size_t title = out->find("TITLE=Title");
    ASSERT_NE(title, std::string::npos);
    // In the place of the first, before the framing bit and the setup header.
    EXPECT_EQ(out->substr(title + 11, 21), std::string("\x0F\0\0\0COMMENT=one\ntwo\x01\x05", 21));
    EXPECT_EQ(out->find("old one"), std::string::npos);

    const std::string opus = Sample("commented.opus");
    const std::string tags = Pages(opus)[1].bytes;
    const size_t padding = tags.find_last_not_of('\0') + 1;
    ASSERT_GT(tags.size() - padding, 100u) << "opusenc leaves room after the comments";
    const auto written = OggSetComment(opus, "new");
    ASSERT_TRUE(written);
    const std::string newTags = Pages(*written)[1].bytes;
    EXPECT_EQ(newTags.substr(newTags.find_last_not_of('\0') + 1), tags.substr(padding));
    EXPECT_NE(written->find("ENCODER=opusenc"), std::string::npos);
    EXPECT_EQ(kes::OggRead(*written)->comment, "new");
    EXPECT_EQ(written->substr(written->size() - 1000), opus.substr(opus.size() - 1000));
}

TEST(OggCore, AChainedStreamStaysAsItWas) {
    const std::string first = Sample("plain.ogg"), chained = Sample("chained.ogg");
    const auto out = OggSetComment(chained, std::string(70000, 'c'));
    ASSERT_TRUE(out);
    const std::string second = chained.substr(first.size());
    EXPECT_EQ(out->substr(out->size() - second.size()), second);
    EXPECT_EQ(kes::OggRead(second)->comment, "old comment\nsecond old one");
}

TEST(OggCore, DamagedInterleavedAndForeignFilesAreRefused) {
    const std::string plain = Sample("plain.ogg"), other = Sample("commented.ogg");
    const std::vector<Page> a = Pages(plain), b = Pages(other);
    std::string badCrc = plain;
    badCrc[plain.size() - 10] ^= 1;
    std::string noCapture = plain;
    noCapture[a[0].bytes.size() + a[1].bytes.size()] = 'X';
    const std::string damaged[] = {
        "",
        plain.substr(0, plain.size() - 1),
        badCrc,
        noCapture,
        plain + "OggS" + std::string(40, '\0'),  // a page cut short after the last
        plain + a[2].bytes.substr(0, 100),
        a[0].bytes + b[0].bytes + a[1].bytes + b[1].bytes + a[2].bytes + b[2].bytes,
        a[0].bytes + a[2].bytes,  // no comment header
        Sample("plain.flac"),
    };
    for (const std::string& file : damaged) {
        SCOPED_TRACE(file.size());
        EXPECT_FALSE(kes::OggRead(file));
        EXPECT_FALSE(OggSetComment(file, ""));
    }
    EXPECT_FALSE(OggSetComment(plain, "\x83\x52"));
}

TEST(OggCore, AudioThatSharedTheLastHeaderPageGetsAPageOfItsOwn) {
    // Made by make_ogg.py from the encoder's framed.ogg: its setup page and
    // first audio page joined into one, the later page renumbered.
    const std::string shared = Sample("shared.ogg"), framed = Sample("framed.ogg");
    const std::vector<Page> before = Pages(shared), encoded = Pages(framed);
    ASSERT_EQ(before.size(), 3u);
    ASSERT_EQ(encoded.size(), 4u);
    EXPECT_EQ(OggSetComment(shared, "old comment"), shared) << "nothing to change";

    const auto out = OggSetComment(shared, "new");
    ASSERT_TRUE(out);
    const std::vector<Page> after = Pages(*out);
    ASSERT_EQ(after.size(), 4u);
    for (size_t i = 0; i < after.size(); ++i) EXPECT_EQ(after[i].sequence, i);
    EXPECT_EQ(after[1].bytes.substr(6, 8), std::string(8, '\0')) << "the header pages end with granule 0";
    // The audio page as the encoder wrote it, the later one renumbered
    // with its checksum.
    EXPECT_EQ(after[2].bytes, encoded[2].bytes);
    EXPECT_EQ(after[3].bytes, encoded[3].bytes);
    EXPECT_EQ(kes::OggRead(*out)->comment, "new");
    EXPECT_EQ(OggSetComment(*out, "new"), *out);
    // The old comment again: byte for byte what the encoder wrote.
    EXPECT_EQ(OggSetComment(*out, "old comment"), framed);
    const auto removed = OggSetComment(shared, "");
    ASSERT_TRUE(removed);
    EXPECT_EQ(kes::OggRead(*removed)->comment, "");

    // Only for Vorbis: Opus headers must end their page.
    EXPECT_FALSE(kes::OggRead(Sample("shared.opus")));
    EXPECT_FALSE(OggSetComment(Sample("shared.opus"), "x"));
}

TEST(OggCore, BytesAfterTheLastPageStay) {
    const std::string plain = Sample("plain.ogg"), padded = Sample("padded.ogg");
    const std::string zeros(1000, '\0');
    ASSERT_EQ(padded, plain + zeros);
    const auto out = OggSetComment(padded, std::string(70000, 'k'));
    ASSERT_TRUE(out);
    EXPECT_EQ(*out, *OggSetComment(plain, std::string(70000, 'k')) + zeros);
    EXPECT_EQ(OggSetComment(*out, std::string(70000, 'k')), *out);
    EXPECT_EQ(OggSetComment(*out, ""), padded);
    const auto tagged = OggSetComment(plain + "TAG", "x");
    ASSERT_TRUE(tagged);
    EXPECT_EQ(tagged->substr(tagged->size() - 3), "TAG");
}

TEST(OggCore, HeaderPacketsAreReadByTheSegmentTablesAlsoWhereAPageLacksTheContinuedFlag) {
    // Made by make_ogg.py from the encoder's files: header pages of one
    // segment each, the comment's closing segment of 0 bytes alone on a
    // page without the continued flag.
    for (const auto& [name, encoded] : {std::pair<const char*, const char*>{"tiny.ogg", "commented.ogg"},
                                        {"tiny.opus", "commented.opus"}}) {
        SCOPED_TRACE(name);
        const std::string tiny = Sample(name);
        const std::vector<Page> before = Pages(tiny);
        const auto flagless = std::find_if(before.begin(), before.end(), [](const Page& p) {
            return p.bytes.compare(26, 2, std::string("\x01\0", 2)) == 0;
        });
        ASSERT_NE(flagless, before.end());
        ASSERT_EQ(flagless->bytes[5], 0);
        const size_t at = flagless - before.begin();
        const auto read = kes::OggRead(tiny);
        ASSERT_TRUE(read);
        EXPECT_EQ(read->comment, kes::OggRead(Sample(encoded))->comment);

        const auto out = OggSetComment(tiny, "new");
        ASSERT_TRUE(out);
        EXPECT_EQ(kes::OggRead(*out)->comment, "new");
        EXPECT_EQ(OggSetComment(*out, "new"), *out);
        // The audio pages as they were, but for their numbers.
        const std::vector<Page> after = Pages(*out), audio = Pages(Sample(encoded));
        ASSERT_GE(after.size(), 3u);
        EXPECT_EQ(Unnumbered(after.back().bytes), Unnumbered(audio.back().bytes));

        // Only on into the page that directly follows; and a page that says
        // it carries on where no packet is open loses data to readers.
        EXPECT_FALSE(kes::OggRead(Changed(tiny, at, 0, flagless->sequence + 1)));
        EXPECT_FALSE(OggSetComment(Changed(tiny, 1, 1, before[1].sequence), "x"));
    }
}
