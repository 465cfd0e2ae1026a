// SHA-256 on OpenSSL's libcrypto, for the native builds.
#include <openssl/evp.h>

#include "Sha256.h"

namespace kes::journal {

struct Sha256::State {
    struct Free {
        void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
    };
    std::unique_ptr<EVP_MD_CTX, Free> context{EVP_MD_CTX_new()};
    bool ok = context && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) == 1;

    State() = default;
    explicit State(const State& from) : ok(from.ok && context && EVP_MD_CTX_copy_ex(context.get(), from.context.get()) == 1) {}
};

Sha256::Sha256() : state_(std::make_unique<State>()) {}
Sha256::Sha256(std::unique_ptr<State> state) : state_(std::move(state)) {}
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256::~Sha256() = default;

Sha256 Sha256::Fork() const { return Sha256(std::make_unique<State>(*state_)); }

void Sha256::Update(const uint8_t* data, size_t length) {
    if (state_->ok && length != 0) state_->ok = EVP_DigestUpdate(state_->context.get(), data, length) == 1;
}

std::optional<Digest> Sha256::Final() {
    Digest digest{};
    unsigned int length = 0;
    if (!state_->ok || EVP_DigestFinal_ex(state_->context.get(), digest.data(), &length) != 1 ||
        length != digest.size())
        return std::nullopt;
    state_->ok = false;  // a second Final() would hash nothing: refuse it
    return digest;
}

}  // namespace kes::journal
