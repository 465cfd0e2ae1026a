#include <gtest/gtest.h>

#include "CoreTestSupport.h"
#include "ZipComment.h"

using kes::ZipReadComment;
constexpr auto ZipSetComment = kes_test::JoinedOutput<kes::ZipSetComment>;
using kes_test::Sample;

namespace {

const std::string kSignature("PK\x05\x06", 4);
const std::string kJapanese = "\x83\x52\x83\x81\x83\x93\x83\x67";  // "コメント" in Shift_JIS

std::string Le16(unsigned v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }

// An end record for an archive with no members and the given comment.
std::string EmptyArchive(const std::string& comment = "") {
    return kSignature + std::string(16, '\0') + Le16(static_cast<unsigned>(comment.size())) + comment;
}

// An archive made without a comment, given one as another program would.
std::string WithComment(const std::string& archive, const std::string& comment) {
    return archive.substr(0, archive.size() - 2) + Le16(static_cast<unsigned>(comment.size())) + comment;
}

}  // namespace

TEST(ZipCore, SetReplaceAndRemoveKeepEveryByteBeforeTheComment) {
    for (const char* name : {"stored.zip", "deflated.zip", "zip64.zip"}) {
        SCOPED_TRACE(name);
        const std::string original = Sample(name);
        ASSERT_EQ(ZipReadComment(original), "");
        const size_t kept = original.size() - 2;  // all but the comment length

        const auto first = ZipSetComment(original, kJapanese);
        ASSERT_TRUE(first);
        EXPECT_EQ(ZipReadComment(*first), kJapanese);
        EXPECT_EQ(first->substr(0, kept), original.substr(0, kept));
        EXPECT_EQ(first->size(), original.size() + kJapanese.size());

        const auto second = ZipSetComment(*first, "second\r\nline");
        ASSERT_TRUE(second);
        EXPECT_EQ(ZipReadComment(*second), "second\r\nline");
        EXPECT_EQ(ZipSetComment(*second, ""), original);
    }
}

TEST(ZipCore, ReplacesAnOldCommentAndTheLongestOneFits) {
    const std::string original = Sample("commented.zip");
    ASSERT_EQ(ZipReadComment(original), "old comment");
    const auto removed = ZipSetComment(original, "");
    ASSERT_TRUE(removed);
    EXPECT_EQ(*removed, original.substr(0, original.size() - 13) + Le16(0));

    const std::string longest(65535, 'x');
    const auto full = ZipSetComment(original, longest);
    ASSERT_TRUE(full);
    EXPECT_EQ(ZipReadComment(*full), longest);
    const kes::Rewrite tooLong = kes::ZipSetComment(original, longest + "x");
    ASSERT_FALSE(tooLong);
    EXPECT_EQ(tooLong.Why(), kes::Refusal::kCommentTooLong);
    EXPECT_EQ(kes::ZipSetComment(original.substr(0, original.size() - 1), "x").Why(), kes::Refusal::kFile);
}

TEST(ZipCore, TheRecordSignatureInsideAnOldCommentOrMemberDataIsNotTakenForTheRecord) {
    const std::string stored = Sample("stored.zip");
    // Old comments (written by another program) that mention the signature,
    // or hold a whole small archive and then text: its record and directory
    // are intact, but its comment does not reach the file's end.
    const std::string inner = WithComment(Sample("deflated.zip"), "inner");
    for (const std::string& oldComment : {"see " + kSignature + " here", "zip: " + inner + " and then text"}) {
        SCOPED_TRACE(oldComment.size());
        const std::string withOld = WithComment(stored, oldComment);
        // (Compared as a whole: the inner archive is too long to show.)
        ASSERT_TRUE(ZipReadComment(withOld) == oldComment);
        EXPECT_TRUE(ZipSetComment(withOld, "new") == WithComment(stored, "new"));
        // Bytes after the stated comment leave two intact records to choose
        // from where the inner archive is whole: a doubt, so refused.
        const bool doubt = oldComment.size() > inner.size();
        EXPECT_EQ(ZipSetComment(withOld + "\n", "new").has_value(), !doubt);
    }
    // The inner archive at the very end of the old comment: both records
    // reach the file's end, and readers would take the inner one.
    EXPECT_FALSE(ZipReadComment(WithComment(stored, "zip: " + inner.substr(0, inner.size() - 7) + Le16(0))));

    // A stored member that holds what looks like an empty archive's record,
    // with the real directory and record cut off: refused, not rewritten as
    // an empty archive.
    std::string fake = stored.substr(0, 200) + EmptyArchive();
    EXPECT_FALSE(ZipReadComment(fake));
    EXPECT_FALSE(ZipSetComment(fake, "x"));
    // The same with counts that claim one member.
    std::string claims =
        kSignature + std::string(4, '\0') + Le16(1) + Le16(1) + std::string(8, '\0') + Le16(0);
    EXPECT_FALSE(ZipSetComment(stored.substr(0, 200) + claims, "x"));
}

TEST(ZipCore, BytesAfterTheStatedCommentStayAfterTheNewOne) {
    const std::string deflated = Sample("deflated.zip");
    for (const std::string& after : {std::string("\n"), std::string("junk from a download\0\0\0", 23)}) {
        SCOPED_TRACE(after.size());
        const std::string original = WithComment(deflated, "old") + after;
        ASSERT_EQ(ZipReadComment(original), "old");
        const auto out = ZipSetComment(original, kJapanese);
        ASSERT_TRUE(out);
        EXPECT_EQ(*out, WithComment(deflated, kJapanese) + after);
        EXPECT_EQ(ZipSetComment(*out, kJapanese), *out);
        EXPECT_EQ(ZipSetComment(*out, ""), deflated + after);
        // The record stays where readers look for it: the new comment and
        // the bytes kept after it within 65535 bytes.
        EXPECT_TRUE(ZipSetComment(original, std::string(65535 - after.size(), 'x')));
        EXPECT_FALSE(ZipSetComment(original, std::string(65536 - after.size(), 'x')));
    }
    // A signature in those bytes is what readers that look from the back
    // take for the record; nor may the new comment end in one with them.
    EXPECT_FALSE(ZipReadComment(deflated + "x" + kSignature));
    EXPECT_FALSE(ZipSetComment(deflated + "\x05\x06", "x PK"));
    EXPECT_TRUE(ZipSetComment(deflated + "\x05\x06", "x PQ"));
}

TEST(ZipCore, ACommentCutShortIsReadAsFarAsItGoesAndGivesWayToOneOfTheRightLength) {
    // Made by make_samples.sh: commented.zip less the last five bytes of
    // its comment "old comment", as a download cut short leaves it.
    const std::string cut = Sample("cut.zip"), whole = Sample("commented.zip");
    ASSERT_EQ(cut, whole.substr(0, whole.size() - 5));
    const std::string archive = whole.substr(0, whole.size() - 13);  // up to the comment's length
    for (const std::string& file : {cut, archive + Le16(11)}) {
        SCOPED_TRACE(file.size());
        EXPECT_EQ(ZipReadComment(file), whole.substr(archive.size() + 2, file.size() - archive.size() - 2));
        const auto out = ZipSetComment(file, kJapanese);
        ASSERT_TRUE(out);
        EXPECT_EQ(*out, archive + Le16(static_cast<unsigned>(kJapanese.size())) + kJapanese);
        EXPECT_EQ(ZipSetComment(file, ""), archive + Le16(0));
        EXPECT_TRUE(ZipSetComment(file, std::string(65535, 'x')));
    }
    // Only readers that take the last signature from the back read such a
    // record: a signature in the comment cut short leaves a doubt, and so
    // does the intact record of another archive before it.
    const std::string withSignature = WithComment(archive + Le16(0), "ab" + kSignature + "cdef");
    EXPECT_FALSE(ZipReadComment(withSignature.substr(0, withSignature.size() - 2)));
    EXPECT_FALSE(ZipSetComment(Sample("deflated.zip") + cut, "x"));
    EXPECT_TRUE(ZipSetComment(Sample("deflated.zip") + whole, "x")) << "one whose comment reaches the end is no doubt";
    // Nor is a record whose comment would run past the end, before the one
    // whose comment ends within the file.
    const std::string deflated = Sample("deflated.zip");
    EXPECT_TRUE(ZipSetComment(deflated.substr(0, deflated.size() - 2) + Le16(0xFFFF) + deflated + "\n", "x"));
}

TEST(ZipCore, CommentsThatWouldMakeASecondRecordAreRefused) {
    const std::string stored = Sample("stored.zip");
    EXPECT_FALSE(ZipSetComment(stored, "a" + kSignature + "b"));
    // No signature in the comment itself, but its length (0x4B50, "PK") and
    // its first bytes make one, with a length that reaches the end.
    std::string crafted(0x4B50, 'c');
    crafted[0] = '\x05';
    crafted[1] = '\x06';
    crafted.replace(18, 2, Le16(0x4B50 - 20));
    ASSERT_EQ(crafted.find(kSignature), std::string::npos);
    EXPECT_FALSE(ZipSetComment(stored, crafted));
    // The same signature without a length that fits: readers that take the
    // last signature from the back still stop there, so it is refused too.
    crafted.replace(18, 2, "zz");
    EXPECT_FALSE(ZipSetComment(stored, crafted));
    // A comment of that length that does not start the signature is fine.
    crafted[1] = 'c';
    EXPECT_TRUE(ZipSetComment(stored, crafted));
}

TEST(ZipCore, DamagedAndForeignFilesAreRefused) {
    const std::string stored = Sample("stored.zip");
    const std::string zip64 = Sample("zip64.zip");
    const std::string damaged[] = {
        "",
        "just some text that is named .zip\r\n",
        stored.substr(0, stored.size() - 1),
        stored.substr(0, stored.size() - 30),
        stored.substr(100),  // the start is missing: directory offsets point wrong
        zip64.substr(0, zip64.size() - 22 - 20 - 1) + zip64.substr(zip64.size() - 22),  // locator damaged
        EmptyArchive().substr(1),
        kSignature + kSignature + std::string(14, '\0'),  // a signature in the record's own fields
        Sample("plain.png"),
    };
    for (const std::string& file : damaged) {
        SCOPED_TRACE(file.size());
        EXPECT_FALSE(ZipReadComment(file));
        EXPECT_FALSE(ZipSetComment(file, "x"));
    }
}

TEST(ZipCore, AnEmptyArchiveAndOnesAfterASelfExtractorTakeCommentsWithTheirOffsetsAsTheyWere) {
    const auto empty = ZipSetComment(EmptyArchive(), kJapanese);
    ASSERT_TRUE(empty);
    EXPECT_EQ(*empty, EmptyArchive(kJapanese));

    // Offsets that do not count the program in front, in both kinds of
    // archive; a ZIP64 archive's locator then points before its record.
    const std::string program(5000, 'M');
    for (const char* name : {"deflated.zip", "zip64.zip"}) {
        SCOPED_TRACE(name);
        const std::string prefixed = program + Sample(name);
        const auto commented = ZipSetComment(prefixed, "sfx");
        ASSERT_TRUE(commented);
        EXPECT_EQ(*commented, WithComment(prefixed, "sfx"));
        EXPECT_EQ(ZipReadComment(*commented), "sfx");
    }
    // A locator pointing at neither its record nor the fixed size before it.
    std::string zip64 = program + Sample("zip64.zip");
    const size_t locator = zip64.size() - 22 - 20;
    zip64[locator + 8] = static_cast<char>(zip64[locator + 8] + 1);
    EXPECT_FALSE(ZipReadComment(zip64));
}
