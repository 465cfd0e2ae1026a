// A file's new contents described as pieces: ranges of the original file,
// kept by reference, and new bytes. A comment changes a few hundred bytes
// of a file that may be a gigabyte, so the shell writes the pieces straight
// to the temporary file instead of first copying the whole file once more.
#ifndef KESTRANE_PLUGINS_PIECES_H
#define KESTRANE_PLUGINS_PIECES_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kes {

class Pieces {
public:
    // A range of the input. Only a reference is kept, so the input must
    // outlive the pieces (the shell's buffer lives for the whole call).
    void Keep(std::string_view range) {
        if (range.empty()) return;
        if (!parts_.empty() && parts_.back().kept != nullptr &&
            parts_.back().kept + parts_.back().size == range.data()) {
            parts_.back().size += range.size();  // the next bytes of the same range
        } else {
            parts_.push_back({range.data(), 0, range.size()});
        }
        size_ += range.size();
    }

    // New bytes, copied.
    void Add(std::string_view bytes) {
        if (bytes.empty()) return;
        if (!parts_.empty() && parts_.back().kept == nullptr) {
            parts_.back().size += bytes.size();
        } else {
            parts_.push_back({nullptr, added_.size(), bytes.size()});
        }
        added_.append(bytes);
        size_ += bytes.size();
    }
    void push_back(char byte) { Add(std::string_view(&byte, 1)); }

    size_t size() const { return size_; }

    // Calls f with each piece in order, as a string_view; stops and returns
    // false as soon as f does.
    template <class F>
    bool ForEach(F&& f) const {
        for (const Part& p : parts_) {
            const std::string_view bytes =
                p.kept != nullptr ? std::string_view(p.kept, p.size) : std::string_view(added_).substr(p.at, p.size);
            if (!f(bytes)) return false;
        }
        return true;
    }

    // The whole contents in one string: for readers and tests, not for
    // writing a file.
    std::string Join() const {
        std::string out;
        out.reserve(size_);
        ForEach([&](std::string_view bytes) {
            out.append(bytes);
            return true;
        });
        return out;
    }

    // True when the pieces spell exactly these bytes.
    bool Equals(std::string_view whole) const {
        if (whole.size() != size_) return false;
        size_t at = 0;
        return ForEach([&](std::string_view bytes) {
            const bool same = whole.compare(at, bytes.size(), bytes) == 0;
            at += bytes.size();
            return same;
        });
    }

private:
    struct Part {
        const char* kept;  // a range of the input, or null for bytes in added_
        size_t at;         // where the new bytes start in added_
        size_t size;
    };
    std::vector<Part> parts_;
    std::string added_;
    size_t size_ = 0;
};

}  // namespace kes

#endif
