#include "ZipComment.h"

#include <algorithm>
#include <iterator>
#include <vector>

namespace kes {
namespace {

constexpr std::string_view kEndSignature("PK\x05\x06", 4);
constexpr std::string_view kLocatorSignature("PK\x06\x07", 4);
constexpr std::string_view kZip64EndSignature("PK\x06\x06", 4);
constexpr std::string_view kCentralSignature("PK\x01\x02", 4);
constexpr std::string_view kDigitalSignature("PK\x05\x05", 4);
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kEndSize = 22;  // the record without its comment
constexpr size_t kLocatorSize = 20;
constexpr size_t kZip64EndMinSize = 56;
constexpr size_t kMaxComment = 0xFFFF;

// Walks the central directory's entry headers: they must be exactly
// `entries` and fill exactly `size` bytes (a digital signature record may
// close the directory). A record pieced together by chance inside member
// data or in a damaged file does not pass this.
bool CentralDirectoryIntact(std::string_view file, uint64_t start, uint64_t size, uint64_t entries) {
    if (start > file.size() || file.size() - start < size) return false;
    const std::string_view directory = file.substr(start, size);
    size_t at = 0;
    for (uint64_t i = 0; i < entries; ++i) {
        if (directory.size() - at < kCentralHeaderSize || !HasAt(directory, at, kCentralSignature))
            return false;
        const size_t variable =
            size_t{Le16(directory, at + 28)} + Le16(directory, at + 30) + Le16(directory, at + 32);
        if (directory.size() - at - kCentralHeaderSize < variable) return false;
        at += kCentralHeaderSize + variable;
    }
    if (directory.size() - at >= 6 && HasAt(directory, at, kDigitalSignature))
        at = std::min(directory.size(), at + 6 + Le16(directory, at + 4));
    return at == directory.size();
}

// The ZIP64 end record ends where the locator begins, and its size field
// says so.
bool Zip64RecordAt(std::string_view file, uint64_t record, size_t locator) {
    return record <= locator && locator - record >= kZip64EndMinSize && HasAt(file, record, kZip64EndSignature) &&
           Le64(file, record + 4) == locator - record - 12;
}

// ZIP64: the locator just before the end record points at the ZIP64 end
// record, which must itself follow the central directory it describes.
// Data before the archive that its offsets do not count (a self-extractor's
// program put in front afterwards) shifts both: the record is then taken
// by its fixed size, counted back from the locator, and the directory is
// shifted by as much.
bool Zip64Intact(std::string_view file, size_t locator) {
    const uint64_t stated = Le64(file, locator + 8);
    uint64_t record = stated;
    if (!Zip64RecordAt(file, record, locator)) {
        if (locator < kZip64EndMinSize) return false;
        record = locator - kZip64EndMinSize;
        if (stated > record || !Zip64RecordAt(file, record, locator)) return false;
    }
    const uint64_t entries = Le64(file, record + 32);
    const uint64_t size = Le64(file, record + 40);
    const uint64_t offset = Le64(file, record + 48);
    if (offset > stated || stated - offset != size) return false;
    return CentralDirectoryIntact(file, offset + (record - stated), size, entries);
}

// The central directory ends where the end record begins. Data before the
// archive (a self-extractor's program) shifts it from its recorded offset,
// so the directory is looked for by its size, counted back from the record.
// An empty archive has no directory to check; its record must then stand
// where its recorded offset says.
bool ClassicIntact(std::string_view file, size_t end) {
    const uint64_t entries = Le16(file, end + 10);
    const uint64_t size = Le32(file, end + 12);
    const uint64_t offset = Le32(file, end + 16);
    if (size > end || offset > end - size) return false;
    if (entries == 0 && offset != end) return false;
    return CentralDirectoryIntact(file, end - size, size, entries);
}

bool Intact(std::string_view file, size_t end) {
    const bool zip64 = end >= kLocatorSize && HasAt(file, end - kLocatorSize, kLocatorSignature);
    return zip64 ? Zip64Intact(file, end - kLocatorSize) : ClassicIntact(file, end);
}

// Where the comment the record states ends: past the file's end where the
// comment was cut short.
size_t CommentEnd(std::string_view file, size_t end) { return end + kEndSize + Le16(file, end + 20); }

// Where a candidate's comment ends: before the file's end, with bytes
// after it; at the end; or past it, cut short. Readers take the last one
// for a comment reaching to the end, cut as the file is.
enum class Reach { kBefore, kEnd, kPast };

// A signature that may be the end record: its archive is intact.
struct Candidate {
    size_t at;
    Reach reach;
};

// The candidates among the signatures in readers' search window at the end
// of a file of `size` bytes, before `before`. Only bytes before a
// signature and its fixed fields are read, which is what lets the setter
// ask about the file it is about to write, whose bytes up to its record
// are those of the original.
std::vector<Candidate> Candidates(std::string_view file, size_t before, size_t size) {
    std::vector<Candidate> found;
    const size_t window = kEndSize + kMaxComment;  // the record with its longest comment
    for (size_t at = size > window ? size - window : 0; at < before; ++at) {
        at = file.find(kEndSignature, at);
        if (at >= before || file.size() - at < kEndSize) break;
        if (!Intact(file, at)) continue;
        const size_t end = CommentEnd(file, at);
        found.push_back({at, end < size ? Reach::kBefore : end == size ? Reach::kEnd : Reach::kPast});
    }
    return found;
}

// The end record, when it can be told without doubt. Its signature may
// also stand in member data or in an old comment, even as a whole archive
// kept in a comment. So the record is the candidate whose comment reaches
// the file's end; or, in a file with bytes after the comment the record
// states, the only candidate there is. Two candidates that reach the end,
// or two in a file with such bytes, leave a doubt, and so does a signature
// in those bytes, which readers that take the last one from the back meet
// first. A comment cut short passes only the readers that take the last
// signature and the comment as far as it goes: its record counts only
// where no other comment ends within the file, as the one candidate and
// the last signature of all (which the caller checks).
std::optional<size_t> Choose(const std::vector<Candidate>& found) {
    std::vector<Candidate> within;
    std::copy_if(found.begin(), found.end(), std::back_inserter(within),
                 [](const Candidate& c) { return c.reach != Reach::kPast; });
    if (within.empty()) return found.size() == 1 ? std::optional<size_t>(found[0].at) : std::nullopt;
    const auto exact =
        std::count_if(within.begin(), within.end(), [](const Candidate& c) { return c.reach == Reach::kEnd; });
    if (exact > 1 || (exact == 0 && within.size() != 1)) return std::nullopt;
    for (const Candidate& c : within)
        if (c.reach == Reach::kEnd || exact == 0) return c.at;
    return std::nullopt;
}

// The record's own fields may also spell a signature, which such readers
// meet before the record; they stay in any rewrite.
std::optional<size_t> EndRecord(std::string_view file) {
    const std::vector<Candidate> found = Candidates(file, file.size(), file.size());
    const std::optional<size_t> end = Choose(found);
    if (!end) return std::nullopt;
    const bool cut = CommentEnd(file, *end) > file.size();
    if (file.find(kEndSignature, cut ? *end + 1 : CommentEnd(file, *end)) != std::string_view::npos ||
        file.substr(*end + 1, kEndSize - 3).find(kEndSignature) != std::string_view::npos)
        return std::nullopt;
    return end;
}

}  // namespace

Rewrite ZipSetComment(std::string_view archive, std::string_view comment) {
    const std::optional<size_t> end = EndRecord(archive);
    if (!end) return std::nullopt;
    // Bytes after the old comment stay after the new one; the record must
    // stay within the stretch at the end where readers look for it.
    const std::string_view after = archive.substr(std::min(CommentEnd(archive, *end), archive.size()));
    if (comment.size() + after.size() > kMaxComment) return Rewrite::CommentTooLong();

    // The new end record and comment. Readers that look for the record from
    // the back take the last signature they meet, some without checking
    // that its comment reaches the end of the file; a signature anywhere in
    // the new tail but at its start (in the comment, or pieced together
    // from the length bytes and the comment's first bytes or the comment's
    // last bytes and those after it) would make them read another archive.
    // Refuse rather than write that.
    std::string tail(archive.substr(*end, kEndSize - 2));
    PutLe16(tail, comment.size());
    tail.append(comment);
    if ((tail + std::string(after.substr(0, kEndSignature.size() - 1))).find(kEndSignature, 1) != std::string::npos)
        return std::nullopt;
    // Nor may the new length make a signature before the record win.
    const size_t size = *end + tail.size() + after.size();
    std::vector<Candidate> found = Candidates(archive, *end, size);
    found.push_back({*end, after.empty() ? Reach::kEnd : Reach::kBefore});
    if (Choose(found) != end) return std::nullopt;

    Pieces out;
    out.Keep(archive.substr(0, *end));
    out.Add(tail);
    out.Keep(after);
    return out;
}

std::optional<std::string> ZipReadComment(std::string_view archive) {
    const std::optional<size_t> end = EndRecord(archive);
    if (!end) return std::nullopt;
    // As far as the file holds it, where it was cut short.
    return std::string(archive.substr(*end + kEndSize, Le16(archive, *end + 20)));
}

}  // namespace kes
