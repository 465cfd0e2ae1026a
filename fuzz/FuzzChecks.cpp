#include "FuzzChecks.h"

#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <string_view>

#include "FlacComment.h"
#include "GifComment.h"
#include "JpegComment.h"
#include "M4aComment.h"
#include "Mp3Comment.h"
#include "OggComment.h"
#include "PngComment.h"
#include "Text.h"
#include "WavComment.h"
#include "ZipComment.h"

namespace kes_fuzz {
namespace {

using SetFn = std::function<kes::Rewrite(std::string_view, std::string_view)>;
using ReadFn = std::function<std::optional<std::string>(std::string_view)>;

struct Case {
    std::string comment;
    std::string_view file;
};

Case Split(const uint8_t* data, size_t size) {
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    if (size < 3) return {std::string(), all};
    const size_t length = std::min<size_t>(data[0] | data[1] << 8, size - 3);
    const std::string_view piece = all.substr(3, length);
    Case c{std::string(), all.substr(3 + length)};
    for (int i = 0; i <= data[2]; ++i) c.comment.append(piece);
    return c;
}


// The rules every core keeps:
//  - it accepts (with no comment, which any file can hold) every file that
//    its own reader accepts, and, where the reader reads every comment
//    (all but PNG, whose reader leaves compressed text alone), no other;
//  - what it writes, its reader accepts and reads back as the comment;
//  - writing the same comment again changes nothing;
//  - removing the comment from the original and from the rewritten file
//    gives the same bytes: nothing but the comment was touched. `skip`
//    bytes at the start are left out of that comparison (GIF's version).
struct Rules {
    bool readerReadsAll = true;
    size_t skip = 0;
};

std::string Check(const SetFn& set, const ReadFn& read, const Case& c, const std::string& expected,
                  Rules rules = {}) {
    const bool readable = read(c.file).has_value();
    const std::optional<std::string> bare = kes::Joined(set(c.file, ""));
    if (readable && !bare) return "a file its reader accepts was refused";
    if (!bare && set(c.file, c.comment)) return "a file refused without a comment was rewritten with one";
    if (!bare) return "";
    if (rules.readerReadsAll && !readable) return "a file its reader refuses was accepted";
    const std::optional<std::string> out = kes::Joined(set(c.file, c.comment));
    if (!out) return "";
    const std::optional<std::string> back = read(*out);
    if (!back) return "the reader refuses the rewritten file";
    if (*back != expected) return "the comment reads back differently";
    const std::optional<std::string> again = kes::Joined(set(*out, c.comment));
    if (!again || *again != *out) return "writing the same comment again changed the file";
    const std::optional<std::string> bareOut = kes::Joined(set(*out, ""));
    const size_t skip = rules.skip;
    if (!bareOut ||
        bareOut->substr(std::min(skip, bareOut->size())) != bare->substr(std::min(skip, bare->size())))
        return "something besides the comment changed";
    return "";
}

// The rules for the cores whose reader also gives the rest of the file in
// a form to compare: the first two rules above, and a new comment reads
// back while the rest reads as before. That covers what the removal
// comparison cannot: padding that changed size, pages laid anew. `more`
// checks what else a format writes.
template <class Read>
std::string CheckWithRest(const SetFn& set, Read read, const Case& c, const std::string& expected,
                          const std::function<std::string(const std::string&)>& more = {}) {
    const auto before = read(c.file);
    const kes::Rewrite bare = set(c.file, "");
    if (before.has_value() != bare.has_value()) return "the setter and the reader disagree on the file";
    if (!bare) return set(c.file, c.comment) ? "a refused file was rewritten with a comment" : "";
    const std::optional<std::string> out = kes::Joined(set(c.file, c.comment));
    if (!out) return "";
    const auto back = read(*out);
    if (!back) return "the reader refuses the rewritten file";
    if (back->comment != expected) return "the comment reads back differently";
    if (back->rest != before->rest) return "something besides the comment changed";
    const std::optional<std::string> again = kes::Joined(set(*out, c.comment));
    if (!again || *again != *out) return "writing the same comment again changed the file";
    return more ? more(*out) : "";
}

kes::Rewrite SetMp3(std::string_view file, std::string_view comment) {
    return kes::Mp3SetComment(file, comment, comment);
}

kes::Rewrite SetWav(std::string_view file, std::string_view comment) {
    return kes::WavSetComment(file, comment, comment);
}

}  // namespace

std::string CheckZip(const uint8_t* data, size_t size) {
    const Case c = Split(data, size);
    return Check(kes::ZipSetComment, kes::ZipReadComment, c, c.comment);
}

namespace {

// XPComment's own rules: the setter accepts exactly what its reader does;
// what it writes reads back, leaves the comment segments and changes
// nothing when written again; and taking it out leaves none. (The rest of
// the Exif data stays where it was, unreferenced bytes remain: removal
// need not give back the original.)
std::string CheckXpComment(const Case& c) {
    const auto set = [](std::string_view file, std::string_view comment) {
        return kes::Joined(kes::JpegSetComments(file, std::nullopt, comment));
    };
    if (kes::JpegReadXpComment(c.file).has_value() != set(c.file, "").has_value())
        return "the XPComment setter and reader disagree on the file";
    const std::optional<std::string> out = set(c.file, c.comment);
    if (!out) return "";
    if (kes::JpegReadXpComment(*out) != c.comment) return "XPComment reads back differently";
    if (kes::JpegReadComment(*out) != kes::JpegReadComment(c.file)) return "the comment segments changed";
    if (set(*out, c.comment) != out) return "writing the same XPComment again changed the file";
    const std::optional<std::string> none = set(*out, "");
    if (!none || kes::JpegReadXpComment(*none) != "") return "XPComment was not taken out";
    return "";
}

}  // namespace

std::string CheckJpeg(const uint8_t* data, size_t size) {
    const Case c = Split(data, size);
    const std::string segment = Check(kes::JpegSetComment, kes::JpegReadComment, c, c.comment);
    return segment.empty() ? CheckXpComment(c) : segment;
}

std::string CheckPng(const uint8_t* data, size_t size) {
    const Case c = Split(data, size);
    return Check(kes::PngSetComment, kes::PngReadComment, c, kes::ToLineFeeds(c.comment), Rules{false, 0});
}

std::string CheckGif(const uint8_t* data, size_t size) {
    const Case c = Split(data, size);
    return Check(kes::GifSetComment, kes::GifReadComment, c, c.comment, Rules{true, 6});
}

std::string CheckMp3(const uint8_t* data, size_t size) {
    const Case c = Split(data, size);
    const kes::Mp3Tags before = kes::Mp3Read(c.file).value_or(kes::Mp3Tags{});
    return CheckWithRest(SetMp3, kes::Mp3Read, c, kes::ToLineFeeds(c.comment), [&](const std::string& out) {
        const kes::Mp3Tags after = *kes::Mp3Read(out);
        // The tag is written plain: the reader would undo unsynchronisation
        // again, and so the rest could not show it left in place.
        if (out.compare(0, 3, "ID3") == 0 && (out[5] & 0x80)) return "the tag is still unsynchronised";
        // An APE tag's Comment items follow the comment where it had any.
        if (after.ape.has_value() != before.ape.has_value()) return "an APE tag came or went";
        if (before.ape && !before.ape->empty() && *after.ape != kes::ToLineFeeds(c.comment))
            return "the APE comment reads back differently";
        const std::optional<std::string> v1 = after.v1;
        if (v1.has_value() != before.v1.has_value()) return "an ID3v1 tag came or went";
        if (!v1) return "";
        // A track number in the last two bytes leaves 28 for the comment.
        const size_t track = out.size() - 128 + 125;
        const size_t room = out[track] == 0 && out[track + 1] != 0 ? 28 : 30;
        const std::string field = kes::Id3v1Comment(c.comment, room);
        return *v1 == field.substr(0, field.find('\0')) ? "" : "the ID3v1 comment reads back differently";
    });
}

std::string CheckFlac(const uint8_t* data, size_t size) {
    const Case c = Split(data, size);
    return CheckWithRest(kes::FlacSetComment, kes::FlacRead, c, kes::ToLineFeeds(c.comment));
}

std::string CheckOgg(const uint8_t* data, size_t size) {
    const Case c = Split(data, size);
    return CheckWithRest(kes::OggSetComment, kes::OggRead, c, kes::ToLineFeeds(c.comment));
}

std::string CheckWav(const uint8_t* data, size_t size) {
    const Case c = Split(data, size);
    return CheckWithRest(SetWav, kes::WavRead, c, kes::ToLineFeeds(c.comment), [&](const std::string& out) {
        // The ICMT item holds the same text with CR LF line breaks.
        const std::optional<std::string> icmt = kes::WavRead(out)->icmt;
        std::string crLf;
        for (char ch : kes::ToLineFeeds(c.comment)) crLf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
        return (c.comment.empty() ? !icmt : icmt == crLf) ? "" : "the ICMT item reads back differently";
    });
}

std::string CheckM4a(const uint8_t* data, size_t size) {
    const Case c = Split(data, size);
    // The plug-in's reader, which leaves the rest out, reads the same.
    return CheckWithRest(kes::M4aSetComment, kes::M4aRead, c, kes::ToLineFeeds(c.comment), [](const std::string& out) {
        return kes::M4aReadComment(out) == kes::M4aRead(out)->comment ? "" : "the plug-in's reader reads otherwise";
    });
}

namespace {

// FNV-1a, 64 bits, and the length: plenty to notice a changed byte.
std::string Digest(const kes::Rewrite& out) {
    if (!out) return "-";
    const std::string bytes = out->Join();
    uint64_t h = 14695981039346656037ull;
    for (char c : bytes) h = (h ^ static_cast<uint8_t>(c)) * 1099511628211ull;
    char text[40];
    std::snprintf(text, sizeof text, "%zx.%016llx", bytes.size(), static_cast<unsigned long long>(h));
    return text;
}

}  // namespace

std::string OutputDigest(const std::string& format, const uint8_t* data, size_t size) {
    static const std::map<std::string, SetFn> kSetters = {
        {"zip", kes::ZipSetComment}, {"jpeg", kes::JpegSetComment},
        {"png", kes::PngSetComment}, {"gif", kes::GifSetComment},
        {"mp3", SetMp3}, {"flac", kes::FlacSetComment}, {"ogg", kes::OggSetComment},
        {"wav", SetWav}, {"m4a", kes::M4aSetComment}};
    const SetFn& set = kSetters.at(format);
    const Case c = Split(data, size);
    return Digest(set(c.file, c.comment)) + "/" + Digest(set(c.file, ""));
}

}  // namespace kes_fuzz
