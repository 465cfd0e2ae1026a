#include "ZipComment.h"

#include <algorithm>

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

// The end record is found from the back. Its signature may also stand inside
// compressed data or an old comment, so a candidate counts only where its
// comment reaches exactly to the end of the file.
std::optional<size_t> FindEndRecord(std::string_view file) {
    if (file.size() < kEndSize) return std::nullopt;
    const size_t last = file.size() - kEndSize;
    const size_t first = last - std::min(last, kMaxComment);
    for (size_t at = last + 1; at-- > first;) {
        if (HasAt(file, at, kEndSignature) && at + kEndSize + Le16(file, at + 20) == file.size()) return at;
    }
    return std::nullopt;
}

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

// ZIP64: the locator just before the end record points at the ZIP64 end
// record, which must end where the locator begins and must itself follow
// the central directory it describes.
bool Zip64Intact(std::string_view file, size_t locator) {
    const uint64_t record = Le64(file, locator + 8);
    if (record > locator || locator - record < kZip64EndMinSize) return false;
    if (!HasAt(file, record, kZip64EndSignature)) return false;
    if (Le64(file, record + 4) != locator - record - 12) return false;
    const uint64_t entries = Le64(file, record + 32);
    const uint64_t size = Le64(file, record + 40);
    const uint64_t offset = Le64(file, record + 48);
    if (offset > record || record - offset != size) return false;
    return CentralDirectoryIntact(file, offset, size, entries);
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

std::optional<size_t> IntactEndRecord(std::string_view file) {
    const std::optional<size_t> end = FindEndRecord(file);
    if (!end) return std::nullopt;
    const bool zip64 = *end >= kLocatorSize && HasAt(file, *end - kLocatorSize, kLocatorSignature);
    const bool intact = zip64 ? Zip64Intact(file, *end - kLocatorSize) : ClassicIntact(file, *end);
    if (!intact) return std::nullopt;
    return end;
}

}  // namespace

Rewrite ZipSetComment(std::string_view archive, std::string_view comment) {
    if (comment.size() > kMaxComment) return std::nullopt;
    const std::optional<size_t> end = IntactEndRecord(archive);
    if (!end) return std::nullopt;

    // The new end record and comment. Readers that look for the record from
    // the back take the last signature they meet, some without checking
    // that its comment reaches the end of the file; a signature anywhere in
    // the new tail but at its start (in the comment, or pieced together
    // from the length bytes and the comment's first bytes) would make them
    // read another archive. Refuse rather than write that.
    std::string tail(archive.substr(*end, kEndSize - 2));
    PutLe16(tail, comment.size());
    tail.append(comment);
    if (tail.find(kEndSignature, 1) != std::string::npos) return std::nullopt;

    Pieces out;
    out.Keep(archive.substr(0, *end));
    out.Add(tail);
    return out;
}

std::optional<std::string> ZipReadComment(std::string_view archive) {
    const std::optional<size_t> end = IntactEndRecord(archive);
    if (!end) return std::nullopt;
    return std::string(archive.substr(*end + kEndSize));
}

}  // namespace kes
