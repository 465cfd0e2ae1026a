// SHA-256 on OpenSSL's libcrypto, in the tool (a static build for MinGW,
// scripts/build-openssl.sh) and natively alike. Its plain digest calls are
// used rather than the EVP layer: in a static build EVP brings in the
// whole provider machinery, megabytes the tool would carry for one hash.
// OpenSSL 3 marks these calls deprecated but keeps and maintains them.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include "Sha256.h"

namespace kes::journal {

struct Sha256::State {
    SHA256_CTX context{};
    bool ok = SHA256_Init(&context) == 1;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {}
Sha256::Sha256(std::unique_ptr<State> state) : state_(std::move(state)) {}
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256::~Sha256() = default;

Sha256 Sha256::Fork() const { return Sha256(std::make_unique<State>(*state_)); }

void Sha256::Update(const uint8_t* data, size_t length) {
    if (state_->ok && length != 0) state_->ok = SHA256_Update(&state_->context, data, length) == 1;
}

std::optional<Digest> Sha256::Final() {
    Digest digest{};
    if (!state_->ok || SHA256_Final(digest.data(), &state_->context) != 1) return std::nullopt;
    state_->ok = false;  // a second Final() would hash nothing: refuse it
    return digest;
}

}  // namespace kes::journal
