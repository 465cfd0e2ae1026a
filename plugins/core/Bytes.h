// Little helpers for reading and writing fixed-width integers in a byte
// string. Callers check the bounds first: these read exactly where told.
#ifndef KESTRANE_PLUGINS_BYTES_H
#define KESTRANE_PLUGINS_BYTES_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "Pieces.h"

namespace kes {

// Why a core leaves a file as it is: the file is not one it can rewrite
// exactly (another format, damaged), or the format has no room for a
// comment this long, which a shorter comment would still fit.
enum class Refusal { kFile, kCommentTooLong };

// A file's new contents, or why the file or the comment is refused. Reads
// like std::optional<Pieces>: a core returns its pieces, or std::nullopt
// for a file it refuses.
class Rewrite {
public:
    Rewrite(std::nullopt_t) {}
    Rewrite(Pieces pieces) : pieces_(std::move(pieces)) {}
    static Rewrite CommentTooLong() {
        Rewrite refused(std::nullopt);
        refused.refusal_ = Refusal::kCommentTooLong;
        return refused;
    }

    explicit operator bool() const { return pieces_.has_value(); }
    bool has_value() const { return pieces_.has_value(); }
    const Pieces& operator*() const { return *pieces_; }
    Pieces& operator*() { return *pieces_; }
    const Pieces* operator->() const { return &*pieces_; }
    Pieces* operator->() { return &*pieces_; }
    // Why there are no pieces; meaningless when there are.
    Refusal Why() const { return refusal_; }

private:
    std::optional<Pieces> pieces_;
    Refusal refusal_ = Refusal::kFile;
};

// A rewrite as one string, for readers and tests; nothing for a refusal.
inline std::optional<std::string> Joined(const Rewrite& rewrite) {
    if (!rewrite) return std::nullopt;
    return rewrite->Join();
}

inline uint8_t Byte(std::string_view s, size_t at) { return static_cast<uint8_t>(s[at]); }

inline uint16_t Le16(std::string_view s, size_t at) {
    return static_cast<uint16_t>(Byte(s, at) | Byte(s, at + 1) << 8);
}
inline uint32_t Le32(std::string_view s, size_t at) {
    return Le16(s, at) | static_cast<uint32_t>(Le16(s, at + 2)) << 16;
}
inline uint64_t Le64(std::string_view s, size_t at) {
    return Le32(s, at) | static_cast<uint64_t>(Le32(s, at + 4)) << 32;
}
inline uint16_t Be16(std::string_view s, size_t at) {
    return static_cast<uint16_t>(Byte(s, at) << 8 | Byte(s, at + 1));
}
inline uint32_t Be24(std::string_view s, size_t at) { return static_cast<uint32_t>(Byte(s, at)) << 16 | Be16(s, at + 1); }
inline uint32_t Be32(std::string_view s, size_t at) {
    return static_cast<uint32_t>(Be16(s, at)) << 16 | Be16(s, at + 2);
}

// Out is a std::string or Pieces.
template <class Out>
void PutLe16(Out& out, size_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>(value >> 8 & 0xFF));
}
template <class Out>
void PutLe32(Out& out, size_t value) {
    PutLe16(out, value & 0xFFFF);
    PutLe16(out, value >> 16 & 0xFFFF);
}
template <class Out>
void PutBe16(Out& out, size_t value) {
    out.push_back(static_cast<char>(value >> 8 & 0xFF));
    out.push_back(static_cast<char>(value & 0xFF));
}
template <class Out>
void PutBe24(Out& out, size_t value) {
    out.push_back(static_cast<char>(value >> 16 & 0xFF));
    PutBe16(out, value & 0xFFFF);
}
template <class Out>
void PutBe32(Out& out, uint32_t value) {
    PutBe16(out, value >> 16);
    PutBe16(out, value & 0xFFFF);
}

// True when s holds `what` at `at`, without reading past its end.
inline bool HasAt(std::string_view s, size_t at, std::string_view what) {
    return at <= s.size() && s.size() - at >= what.size() && s.compare(at, what.size(), what) == 0;
}

}  // namespace kes

#endif
