#include <gtest/gtest.h>

#include "CoreTestSupport.h"
#include "JpegComment.h"

using kes::JpegReadComment;
constexpr auto JpegSetComment = kes_test::JoinedOutput<kes::JpegSetComment>;
using kes_test::Sample;

namespace {

// The segments before the first scan, marker and length, told apart here
// without the core's parser.
std::vector<std::pair<int, size_t>> HeaderSegments(const std::string& jpeg) {
    std::vector<std::pair<int, size_t>> segments;
    for (size_t at = 2; at + 4 <= jpeg.size();) {
        const int marker = static_cast<unsigned char>(jpeg[at + 1]);
        const size_t length =
            static_cast<unsigned char>(jpeg[at + 2]) << 8 | static_cast<unsigned char>(jpeg[at + 3]);
        segments.push_back({marker, length});
        if (marker == 0xDA) break;
        at += 2 + length;
    }
    return segments;
}

std::vector<int> HeaderMarkers(const std::string& jpeg) {
    std::vector<int> markers;
    for (const auto& [marker, length] : HeaderSegments(jpeg)) markers.push_back(marker);
    return markers;
}

// The payload lengths of the COM segments.
std::vector<size_t> CommentLengths(const std::string& jpeg) {
    std::vector<size_t> lengths;
    for (const auto& [marker, length] : HeaderSegments(jpeg))
        if (marker == 0xFE) lengths.push_back(length - 2);
    return lengths;
}

std::string ComSegment(const std::string& text) {
    const size_t length = text.size() + 2;
    return std::string("\xFF\xFE", 2) + static_cast<char>(length >> 8) + static_cast<char>(length & 0xFF) +
           text;
}

// A field of a multi-picture entry as make_mpf.py lays the index out:
// the header after "MPF\0", the entries 50 bytes after it, each of 16
// bytes (attribute, size, offset, ...), in the header's byte order.
uint32_t MpField(const std::string& jpeg, size_t entry, size_t field) {
    const size_t header = jpeg.find(std::string("MPF\0", 4)) + 4;
    const bool big = jpeg[header] == 'M';
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        const size_t at = header + 50 + 16 * entry + field + (big ? i : 3 - i);
        value = value << 8 | static_cast<unsigned char>(jpeg[at]);
    }
    return value;
}
uint32_t MpSize(const std::string& jpeg, size_t entry) { return MpField(jpeg, entry, 4); }
// A later picture's bytes where its entry says it begins, counted from the
// index's header, as long as its entry says.
std::string MpPicture(const std::string& jpeg, size_t entry) {
    const size_t header = jpeg.find(std::string("MPF\0", 4)) + 4;
    return jpeg.substr(header + MpField(jpeg, entry, 8), MpSize(jpeg, entry));
}

}  // namespace

TEST(JpegCore, TheIndexStillLocatesEveryLaterPictureAfterTheCommentChanges) {
    // Made by make_mpf.py; in mpf_hdr.jpg the first picture's size is 70
    // bytes too large, as some phones write it.
    const struct {
        const char* name;
        std::vector<const char*> later;
        uint32_t overstated;
    } files[] = {{"mpf_ii.jpg", {"mpf_second.jpg", "mpf_third.jpg"}, 0},
                 {"mpf_mm.jpg", {"mpf_second.jpg"}, 0},
                 {"mpf_hdr.jpg", {"mpf_second.jpg"}, 70}};
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        const std::string original = Sample(f.name);
        for (const std::string& comment : {std::string("Kestrane"), std::string(70000, 'c')}) {
            const auto out = JpegSetComment(original, comment);
            ASSERT_TRUE(out);
            const size_t firstImage = out->find("\xFF\xD9") + 2;
            EXPECT_EQ(MpSize(*out, 0), firstImage + f.overstated);
            for (size_t i = 0; i < f.later.size(); ++i) {
                const std::string picture = Sample(f.later[i]);
                EXPECT_EQ(MpSize(*out, i + 1), picture.size());
                // Compared as a whole: a picture is too long to show.
                EXPECT_TRUE(MpPicture(*out, i + 1) == picture) << "picture " << i + 2 << " is not where its entry says";
            }
            EXPECT_EQ(JpegSetComment(*out, comment), *out);
        }
    }
    const std::string hdr = Sample("mpf_hdr.jpg");
    EXPECT_EQ(JpegSetComment(*JpegSetComment(hdr, "x"), ""), hdr);
    // With the first size overstated, a later picture must begin where its
    // entry says; a size too small is no phone's.
    const size_t second = hdr.find(std::string("MPF\0", 4)) + 4 + 50 + 16 + 8;
    std::string moved = hdr;
    moved[second + 3] = static_cast<char>(moved[second + 3] + 1);
    EXPECT_FALSE(JpegSetComment(moved, "x"));
    std::string understated = hdr;
    understated[second - 20 + 3] = static_cast<char>(understated[second - 20 + 3] - 71);
    EXPECT_FALSE(JpegSetComment(understated, "x"));
}

TEST(JpegCore, TheCommentGoesAfterTheAppSegmentsAndLeavesNoTraceWhenRemoved) {
    for (const char* name : {"plain.jpg", "exif.jpg", "progressive.jpg"}) {
        SCOPED_TRACE(name);
        const std::string original = Sample(name);
        ASSERT_EQ(JpegReadComment(original), "");

        const auto first = JpegSetComment(original, "Kestrane \x83\x52\x83\x81\x83\x93\x83\x67");
        ASSERT_TRUE(first);
        EXPECT_EQ(JpegReadComment(*first), "Kestrane \x83\x52\x83\x81\x83\x93\x83\x67");
        std::vector<int> expected = HeaderMarkers(original);
        const auto firstNonApp =
            std::find_if(expected.begin(), expected.end(), [](int m) { return m < 0xE0 || m > 0xEF; });
        expected.insert(firstNonApp, 0xFE);
        EXPECT_EQ(HeaderMarkers(*first), expected);

        const auto second = JpegSetComment(*first, "second");
        ASSERT_TRUE(second);
        EXPECT_EQ(JpegReadComment(*second), "second");
        EXPECT_EQ(JpegSetComment(*second, ""), original);
    }
}

TEST(JpegCore, EveryOldCommentIsReplacedWhereverItStands) {
    const std::string plain = Sample("plain.jpg");
    const std::string commented = Sample("commented.jpg");
    ASSERT_EQ(JpegReadComment(commented), "old comment");
    // One more comment before the image's tables, one between the scans of a
    // progressive image, and one after the last scan.
    const std::string progressive = Sample("progressive.jpg");
    const size_t secondScan = progressive.find("\xFF\xC4", progressive.find("\xFF\xDA"));
    ASSERT_NE(secondScan, std::string::npos);
    const size_t end = progressive.size() - 2;
    std::string many = progressive.substr(0, 20) + ComSegment("a") + progressive.substr(20, secondScan - 20) +
                       ComSegment("b") + progressive.substr(secondScan, end - secondScan) + ComSegment("c") +
                       progressive.substr(end);
    ASSERT_EQ(JpegReadComment(many), "abc");
    const auto one = JpegSetComment(many, "new");
    ASSERT_TRUE(one);
    EXPECT_EQ(JpegReadComment(*one), "new");
    EXPECT_EQ(JpegSetComment(many, ""), progressive);
    EXPECT_EQ(JpegSetComment(commented, ""), JpegSetComment(plain, ""));
}

TEST(JpegCore, ALongCommentIsSplitInOrderAndBytesAfterTheImageStay) {
    const std::string original = Sample("plain.jpg") + "trailing data";
    std::string longest(65533, 'a');
    const auto one = JpegSetComment(original, longest);
    ASSERT_TRUE(one);
    EXPECT_EQ(one->size(), original.size() + 4 + 65533);

    std::string longer = longest + "bc";
    const auto two = JpegSetComment(original, longer);
    ASSERT_TRUE(two);
    EXPECT_EQ(JpegReadComment(*two), longer);
    std::vector<int> markers = HeaderMarkers(*two);
    ASSERT_GE(markers.size(), 3u);
    EXPECT_EQ(markers[1], 0xFE);
    EXPECT_EQ(markers[2], 0xFE);
    EXPECT_NE(two->find(ComSegment("bc")), std::string::npos);
    EXPECT_EQ(two->substr(two->size() - 15), "\xFF\xD9trailing data");

    // Double-byte characters are never cut: 65533 bytes would end inside
    // one. A half-width kana (0xB1) is a whole character of one byte.
    std::string japanese;
    for (int i = 0; i < 40000; ++i) japanese += "\x95\x5c";
    const auto cut = JpegSetComment(original, japanese);
    ASSERT_TRUE(cut);
    EXPECT_EQ(CommentLengths(*cut), (std::vector<size_t>{65532, 14468}));
    EXPECT_EQ(JpegReadComment(*cut), japanese);
    const auto kana = JpegSetComment(original, "\xB1" + japanese);
    ASSERT_TRUE(kana);
    EXPECT_EQ(CommentLengths(*kana), (std::vector<size_t>{65533, 14468}));
}

TEST(JpegCore, AMultiPictureIndexThatDoesNotDescribeTheFileExactlyIsRefused) {
    // Made by make_mpf.py: after "MPF\0" the header (byte order, IFD offset
    // 8), the IFD (count, version, number of images, entries, next IFD) and,
    // from 50 on, the 16-byte entries (attribute, size, offset, ...) of the
    // three pictures, little-endian.
    const std::string good = Sample("mpf_ii.jpg");
    ASSERT_TRUE(JpegSetComment(good, "comment"));
    ASSERT_TRUE(JpegSetComment(Sample("mpf_mm.jpg"), "comment"));
    const size_t header = good.find(std::string("MPF\0", 4)) + 4;
    const size_t entry = header + 50;
    const auto with = [](std::string file, size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i) file[at + i] = static_cast<char>(value >> 8 * i);
        return file;
    };
    const auto at = [](const std::string& file, size_t where) {
        uint32_t value = 0;
        for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(file[where + i]);
        return value;
    };
    // A copy of the segment in front of it, both made to describe the
    // longer file: two indexes, of which a reader may take either.
    const size_t segment = header - 8;
    const size_t length = 2 + (static_cast<unsigned char>(good[segment + 2]) << 8 |
                               static_cast<unsigned char>(good[segment + 3]));
    std::string twice = good.substr(0, segment) + good.substr(segment, length) + good.substr(segment);
    for (size_t first : {entry, entry + length}) twice = with(twice, first + 4, at(twice, first + 4) + length);
    for (size_t later : {entry + 16, entry + 32}) twice = with(twice, later + 8, at(twice, later + 8) + length);

    const std::string damaged[] = {
        std::string(good).replace(header, 2, "IX"),  // no byte order
        with(good, header + 4, 0xF0),                // the IFD outside the segment
        with(good, header + 30, 2),                  // two pictures, three entries
        with(good, entry + 8, 1),                    // the first picture not at the file's start
        with(good, entry + 4, 1),                    // nor of the first image's length
        with(good, entry + 16 + 8, 8),               // the second inside the first image
        with(good, entry + 32 + 8, 0x10000000),      // the third past the end
        good.substr(0, good.size() - 1),             // the third cut short
        twice,
    };
    for (const std::string& file : damaged) {
        SCOPED_TRACE(&file - damaged);
        EXPECT_FALSE(JpegReadComment(file));
        EXPECT_FALSE(JpegSetComment(file, "x"));
    }
}

TEST(JpegCore, DamagedAndForeignFilesAreRefused) {
    const std::string plain = Sample("plain.jpg");
    const size_t scan = plain.find("\xFF\xDA");
    const std::string damaged[] = {
        "",
        "\xFF\xD8",
        plain.substr(2),                          // no SOI
        plain.substr(0, plain.size() - 2),        // no EOI
        plain.substr(0, scan + 20),               // cut inside the scan
        plain.substr(0, 30),                      // cut inside a segment
        plain.substr(0, 2) + plain.substr(scan),  // a scan without a frame
        plain.substr(0, 20) + "garbage" + plain.substr(20),
        "text that is named .jpg",
        Sample("plain.png"),
    };
    for (const std::string& file : damaged) {
        SCOPED_TRACE(file.size());
        EXPECT_FALSE(JpegReadComment(file));
        EXPECT_FALSE(JpegSetComment(file, "x"));
    }
}

namespace {

using kes::JpegReadXpComment;
std::optional<std::string> SetBoth(std::string_view file, std::string_view comment) {
    return kes::Joined(kes::JpegSetComments(file, comment, comment));
}
std::optional<std::string> SetXp(std::string_view file, std::string_view comment) {
    return kes::Joined(kes::JpegSetComments(file, std::nullopt, comment));
}

// The Exif segment's TIFF data, found as readers find it: the first APP1
// that begins "Exif\0\0".
std::string TiffData(const std::string& jpeg) {
    for (const auto& [marker, length] : HeaderSegments(jpeg)) {
        const size_t at = jpeg.find(std::string("Exif\0\0", 6));
        if (marker == 0xE1 && at != std::string::npos) return jpeg.substr(at + 6, length - 8);
    }
    return "";
}

// The tags of IFD0, in their order, read from TIFF data in either byte order.
std::vector<unsigned> Ifd0Tags(const std::string& tiff) {
    const bool big = tiff[0] == 'M';
    const auto number = [&](size_t at, int width) {
        unsigned value = 0;
        for (int i = 0; i < width; ++i)
            value |= static_cast<unsigned>(static_cast<unsigned char>(tiff[at + i])) << 8 * (big ? width - 1 - i : i);
        return value;
    };
    const size_t ifd = number(4, 4);
    std::vector<unsigned> tags;
    for (size_t i = 0; i < number(ifd, 2); ++i) tags.push_back(number(ifd + 2 + 12 * i, 2));
    return tags;
}

}  // namespace

TEST(JpegCore, XpCommentIsSetInIfd0AndTheRestOfTheExifDataStaysWhereItWas) {
    const std::string text = "Kestrane \xE3\x82\xB3\xE3\x83\xA1\xE3\x83\xB3\xE3\x83\x88 \xF0\x9D\x84\x9E";  // a pair too
    // (Files made by make_samples.sh: no Exif at all; a phone's, in either
    // byte order; one whose XPComment Windows wrote; one with more pictures.)
    const struct {
        const char* name;
        const char* old;
    } files[] = {{"plain.jpg", ""}, {"exif_ii.jpg", ""}, {"exif_mm.jpg", ""}, {"xp.jpg", "old XP comment"},
                 {"mpf_exif.jpg", ""}};
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        const std::string original = Sample(f.name);
        ASSERT_EQ(JpegReadXpComment(original), f.old);
        const auto out = SetXp(original, text);
        ASSERT_TRUE(out);
        EXPECT_EQ(JpegReadXpComment(*out), text);
        EXPECT_EQ(JpegReadComment(*out), JpegReadComment(original));
        EXPECT_EQ(SetXp(*out, text), *out);
        // Every byte of the old TIFF data but IFD0's offset and the entry
        // (or the old value, rewritten in place) stays at its offset.
        const std::string before = TiffData(original), after = TiffData(*out);
        ASSERT_GE(after.size(), before.size());
        size_t changed = 0;
        for (size_t i = 0; i < before.size(); ++i) changed += before[i] != after[i];
        EXPECT_LE(changed, std::string(f.old).empty() ? 4u : 12u + 30u);
        const std::vector<unsigned> tags = Ifd0Tags(after);
        EXPECT_TRUE(std::is_sorted(tags.begin(), tags.end()) && std::count(tags.begin(), tags.end(), 0x9C9Cu) == 1);
        // Written again shorter, where it stood; taken out, no XPComment is
        // left, and a segment made for it alone goes with it.
        const auto shorter = SetXp(*out, "x");
        ASSERT_TRUE(shorter);
        EXPECT_EQ(shorter->size(), out->size());
        EXPECT_EQ(JpegReadXpComment(*shorter), "x");
        const auto none = SetBoth(*out, "");
        ASSERT_TRUE(none);
        EXPECT_EQ(JpegReadXpComment(*none), "");
        EXPECT_EQ(JpegReadComment(*none), "");
        if (before.empty()) EXPECT_EQ(*none, original);
        if (std::string(f.name) == "mpf_exif.jpg") {
            EXPECT_TRUE(MpPicture(*out, 1) == Sample("mpf_second.jpg"));
            EXPECT_EQ(MpSize(*out, 0), out->size() - Sample("mpf_second.jpg").size());
        }
    }
    // The user comment and the rest stay when XPComment goes.
    const auto removed = SetBoth(Sample("exif_ii.jpg"), "");
    ASSERT_TRUE(removed);
    EXPECT_NE(removed->find("an old user comment"), std::string::npos);
    // A file without Exif gets it after the JFIF header, before the comment segment.
    const auto both = SetBoth(Sample("plain.jpg"), "both");
    ASSERT_TRUE(both);
    const std::vector<int> markers = HeaderMarkers(*both);
    EXPECT_EQ(std::vector<int>(markers.begin(), markers.begin() + 3), (std::vector<int>{0xE0, 0xE1, 0xFE}));
    EXPECT_EQ(JpegReadComment(*both), "both");
    EXPECT_EQ(JpegReadXpComment(*both), "both");
}

TEST(JpegCore, AnExifSegmentThatCannotBeEditedExactlyOrWouldOverflowIsRefused) {
    // The sample's TIFF data from make_exif.py: IFD0 at 8, little-endian.
    const std::string good = Sample("exif_ii.jpg");
    const size_t tiff = good.find(std::string("Exif\0\0", 6)) + 6;
    const auto with = [&](size_t at, const std::string& bytes) {
        return std::string(good).replace(tiff + at, bytes.size(), bytes);
    };
    const size_t ifd0Count = 10, next = 8 + 2 + 12 * ifd0Count;
    const std::string damaged[] = {
        with(4, std::string("\xF0\xFF\0\0", 4)),    // IFD0 past the end
        with(4, std::string("\0\0\0\0", 4)),        // no IFD0
        with(next, std::string("\x08\0\0\0", 4)),   // IFD1 leads back to IFD0
        with(8 + 2 + 8, std::string("\xF0\xFF\0\0", 4)),  // the make's value past the end
        with(0, "IX"),
        // An XPComment of odd length, and one whose value lies over IFD0.
        with(8 + 2, std::string("\x9C\x9C\x01\x00\x05\x00\x00\x00\x0A\x00\x00\x00", 12)),
        with(8 + 2, std::string("\x9C\x9C\x01\x00\x06\x00\x00\x00\x0A\x00\x00\x00", 12)),
    };
    for (const std::string& file : damaged) {
        SCOPED_TRACE(&file - damaged);
        EXPECT_FALSE(JpegReadXpComment(file));
        EXPECT_FALSE(SetXp(file, "x"));
        EXPECT_FALSE(SetBoth(file, ""));
        EXPECT_TRUE(JpegSetComment(file, "x"));  // the segment alone needs no Exif
    }
    // Past one segment, as UTF-16: a comment the segment alone could hold.
    for (const std::string& name : {"plain.jpg", "exif_mm.jpg"}) {
        const kes::Rewrite tooLong = kes::JpegSetComments(Sample(name), std::nullopt, std::string(32760, 'x'));
        EXPECT_TRUE(!tooLong && tooLong.Why() == kes::Refusal::kCommentTooLong) << name;
    }
    EXPECT_TRUE(SetXp(Sample("plain.jpg"), std::string(32700, 'x')));
    EXPECT_FALSE(SetXp(Sample("plain.jpg"), "no UTF-8 \x83"));
}
