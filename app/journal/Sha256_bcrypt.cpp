// SHA-256 on Windows' BCrypt, for the tool: no library of our own to ship,
// and the one Windows keeps up to date (Wine has its own).
#include <windows.h>

#include <bcrypt.h>

#include <vector>

#include "Sha256.h"

namespace kes::journal {
namespace {

struct CloseAlgorithm {
    void operator()(BCRYPT_ALG_HANDLE handle) const { BCryptCloseAlgorithmProvider(handle, 0); }
};
struct DestroyHash {
    void operator()(BCRYPT_HASH_HANDLE handle) const { BCryptDestroyHash(handle); }
};
using AlgorithmHandle = std::unique_ptr<void, CloseAlgorithm>;
using HashHandle = std::unique_ptr<void, DestroyHash>;

bool Succeeded(NTSTATUS status) { return status >= 0; }

AlgorithmHandle OpenSha256() {
    BCRYPT_ALG_HANDLE handle = nullptr;
    if (!Succeeded(BCryptOpenAlgorithmProvider(&handle, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) return nullptr;
    return AlgorithmHandle(handle);
}

}  // namespace

struct Sha256::State {
    AlgorithmHandle algorithm = OpenSha256();
    // Windows 7 wants the caller to provide the hash object's memory.
    std::vector<UCHAR> object;
    HashHandle hash;
    bool ok = Create();

    State() = default;
    // The same algorithm, and a duplicate of `from`'s hash in memory of its own.
    explicit State(const State& from) : ok(false) {
        if (!from.ok || !algorithm) return;
        object.resize(from.object.size());
        BCRYPT_HASH_HANDLE handle = nullptr;
        if (!Succeeded(BCryptDuplicateHash(from.hash.get(), &handle, object.data(),
                                           static_cast<ULONG>(object.size()), 0)))
            return;
        hash.reset(handle);
        ok = true;
    }

    bool Create() {
        DWORD objectSize = 0;
        ULONG written = 0;
        if (!algorithm ||
            !Succeeded(BCryptGetProperty(algorithm.get(), BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectSize),
                                         sizeof objectSize, &written, 0)))
            return false;
        object.resize(objectSize);
        BCRYPT_HASH_HANDLE handle = nullptr;
        if (!Succeeded(BCryptCreateHash(algorithm.get(), &handle, object.data(), objectSize, nullptr, 0, 0)))
            return false;
        hash.reset(handle);
        return true;
    }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {}
Sha256::Sha256(std::unique_ptr<State> state) : state_(std::move(state)) {}
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256::~Sha256() = default;

Sha256 Sha256::Fork() const { return Sha256(std::make_unique<State>(*state_)); }

void Sha256::Update(const uint8_t* data, size_t length) {
    // BCrypt takes at most 4 GiB - 1 per call.
    constexpr size_t kMaxPiece = 1u << 30;
    while (state_->ok && length != 0) {
        const size_t piece = length < kMaxPiece ? length : kMaxPiece;
        state_->ok =
            Succeeded(BCryptHashData(state_->hash.get(), const_cast<PUCHAR>(data), static_cast<ULONG>(piece), 0));
        data += piece;
        length -= piece;
    }
}

std::optional<Digest> Sha256::Final() {
    Digest digest{};
    if (!state_->ok || !Succeeded(BCryptFinishHash(state_->hash.get(), digest.data(), digest.size(), 0)))
        return std::nullopt;
    state_->ok = false;  // BCrypt allows no second finish: refuse it
    return digest;
}

}  // namespace kes::journal
