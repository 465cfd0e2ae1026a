// SHA-256, fed in pieces. The journal proves with it that a file is still
// as a run left it, and that rebuilt contents are the old ones, so it must
// be a strong hash from a well-kept implementation: OpenSSL's libcrypto,
// in the tool as in the native tests and the fuzzers. The journal's code
// sees only this class.
#ifndef KESTRANE_JOURNAL_SHA256_H
#define KESTRANE_JOURNAL_SHA256_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace kes::journal {

using Digest = std::array<uint8_t, 32>;

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    Sha256(Sha256&&) noexcept;

    void Update(const uint8_t* data, size_t length);
    // A second hash that has been fed all this one has; from here on each
    // goes on alone. Two versions of a file that share their start hash
    // that start once.
    Sha256 Fork() const;
    // The digest of everything fed so far; nothing when the library failed
    // at any step, so that a failure can never pass for a match.
    std::optional<Digest> Final();

private:
    struct State;
    explicit Sha256(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace kes::journal

#endif
