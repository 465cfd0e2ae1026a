#include "Delta.h"

#include <zstd.h>

#include <algorithm>
#include <cstring>

namespace kes::journal {
namespace {

// The new file is read in pieces of this size while it is hashed and
// compared.
constexpr size_t kScanBlock = size_t{1} << 20;
// Fast, and with long-distance matching it finds the shifted runs as well
// as the slow levels do.
constexpr int kLevel = 3;

constexpr size_t kCompareStep = 4096;

// The index of the first byte where a and b differ, or n.
size_t FirstDifference(const uint8_t* a, const uint8_t* b, size_t n) {
    for (size_t i = 0; i < n; i += kCompareStep) {
        const size_t step = std::min(kCompareStep, n - i);
        if (std::memcmp(a + i, b + i, step) != 0) {
            while (a[i] == b[i]) ++i;
            return i;
        }
    }
    return n;
}

// The index of the last byte where a and b differ, or n.
size_t LastDifference(const uint8_t* a, const uint8_t* b, size_t n) {
    for (size_t end = n; end > 0;) {
        const size_t begin = end - std::min(kCompareStep, end);
        if (std::memcmp(a + begin, b + begin, end - begin) != 0) {
            while (a[end - 1] == b[end - 1]) --end;
            return end - 1;
        }
        end = begin;
    }
    return n;
}

struct Range {
    uint64_t begin, end;  // within the new middle
};

// The parts of the new middle that chunk `index` of the old middle is
// compressed against: its own place counted from the start and counted from
// the end, each widened by the margin, merged when they meet. Both sides
// compute the same ranges from the same sizes.
std::vector<Range> ReferenceRanges(const Middles& m, uint64_t index) {
    const auto oldSize = static_cast<int64_t>(m.oldSize), newSize = static_cast<int64_t>(m.newSize);
    const auto margin = static_cast<int64_t>(kReferenceMargin);
    const auto begin = static_cast<int64_t>(index * kChunkSize);
    const int64_t end = std::min(oldSize, begin + static_cast<int64_t>(kChunkSize));
    const int64_t shift = newSize - oldSize;
    const auto clamp = [&](int64_t from, int64_t to) {
        return Range{static_cast<uint64_t>(std::clamp<int64_t>(from, 0, newSize)),
                     static_cast<uint64_t>(std::clamp<int64_t>(to, 0, newSize))};
    };
    Range ranges[2] = {clamp(begin - margin, end + margin), clamp(begin + shift - margin, end + shift + margin)};
    if (ranges[1].begin < ranges[0].begin) std::swap(ranges[0], ranges[1]);
    std::vector<Range> out;
    for (const Range& r : ranges) {
        if (r.begin >= r.end) continue;
        if (!out.empty() && r.begin <= out.back().end)
            out.back().end = std::max(out.back().end, r.end);
        else
            out.push_back(r);
    }
    return out;
}

uint64_t ChunkLength(const Middles& m, uint64_t index) { return std::min(kChunkSize, m.oldSize - index * kChunkSize); }

bool LoadReference(ByteSource& file, const Middles& m, uint64_t index, std::vector<uint8_t>& reference) {
    reference.clear();
    for (const Range& r : ReferenceRanges(m, index)) {
        const size_t at = reference.size();
        reference.resize(at + (r.end - r.begin));
        if (!file.Read(m.start + r.begin, reference.data() + at, r.end - r.begin)) return false;
    }
    return true;
}

// The window a chunk's frame needs: its reference and itself.
int WindowLog(size_t referenceSize, uint64_t chunkLength) {
    int log = ZSTD_cParam_getBounds(ZSTD_c_windowLog).lowerBound;
    while ((uint64_t{1} << log) < referenceSize + chunkLength) ++log;
    return log;
}

}  // namespace

std::optional<NewFileScan> ScanNewFile(const uint8_t* old, size_t oldSize, ByteSource& file) {
    const uint64_t newSize = file.Size();
    // A new byte at j pairs with the old byte at j - grow counted from the
    // end; the suffix can begin no earlier than the prefix plus the growth.
    const uint64_t grow = newSize > oldSize ? newSize - oldSize : 0;
    const uint64_t shrink = oldSize > newSize ? oldSize - newSize : 0;
    std::vector<uint8_t> block(static_cast<size_t>(std::min<uint64_t>(kScanBlock, newSize)));
    Sha256 hash;
    // Where the two first differ, the old contents' hash goes its own way:
    // a comment changed at a big archive's end costs one pass, not two.
    std::optional<Sha256> oldHash;
    const auto forkAt = [&](uint64_t at) {
        oldHash.emplace(hash.Fork());
        oldHash->Update(old + at, static_cast<size_t>(oldSize - at));
    };
    std::optional<uint64_t> prefix;
    uint64_t lastDifferenceEnd = 0;  // just after the last byte that differs counted from the end
    for (uint64_t pos = 0; pos < newSize;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(block.size(), newSize - pos));
        if (!file.Read(pos, block.data(), n)) return std::nullopt;
        uint64_t from = pos;
        if (!prefix) {
            const auto comparable = static_cast<size_t>(pos < oldSize ? std::min<uint64_t>(n, oldSize - pos) : 0);
            const size_t same = comparable != 0 ? FirstDifference(block.data(), old + pos, comparable) : 0;
            if (same < n) {
                prefix = from = pos + same;
                hash.Update(block.data(), same);
                forkAt(*prefix);
                hash.Update(block.data() + same, n - same);
            } else {
                hash.Update(block.data(), n);
            }
        } else {
            hash.Update(block.data(), n);
        }
        if (prefix) {
            const uint64_t begin = std::max(from, *prefix + grow);
            if (begin < pos + n) {
                const size_t count = static_cast<size_t>(pos + n - begin);
                const size_t last = LastDifference(block.data() + (begin - pos), old + (begin + shrink - grow), count);
                if (last != count) lastDifferenceEnd = begin + last + 1;
            }
        }
        pos += n;
    }
    // No difference: one version is the start of the other.
    const uint64_t shared = prefix.value_or(std::min<uint64_t>(oldSize, newSize));
    if (!oldHash) forkAt(shared);
    const std::optional<Digest> digest = hash.Final();
    const std::optional<Digest> oldDigest = oldHash->Final();
    if (!digest || !oldDigest) return std::nullopt;
    return NewFileScan{shared, newSize - std::max(shared + grow, lastDifferenceEnd), *digest, *oldDigest};
}

Middles MiddlesOf(uint64_t oldSize, uint64_t newSize, uint64_t prefix, uint64_t suffix) {
    return Middles{prefix, oldSize - prefix - suffix, newSize - prefix - suffix};
}

uint64_t ChunkCount(const Middles& m) { return m.oldSize / kChunkSize + (m.oldSize % kChunkSize != 0 ? 1 : 0); }

struct DeltaEncoder::State {
    struct Free {
        void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
    };
    // Kept from file to file: zstd reuses its tables.
    std::unique_ptr<ZSTD_CCtx, Free> context{ZSTD_createCCtx()};
};

DeltaEncoder::DeltaEncoder() : state_(std::make_unique<State>()) {}
DeltaEncoder::~DeltaEncoder() = default;

bool DeltaEncoder::Encode(const uint8_t* oldMiddle, const Middles& middles, uint64_t index, ByteSource& newFile,
                          std::vector<uint8_t>& out) {
    ZSTD_CCtx* context = state_->context.get();
    std::vector<uint8_t> reference;
    if (!context || !LoadReference(newFile, middles, index, reference)) return false;
    const auto length = static_cast<size_t>(ChunkLength(middles, index));
    ZSTD_CCtx_reset(context, ZSTD_reset_session_and_parameters);
    // The reference must lie inside the window; long-distance matching
    // finds the runs a comment's change shifted by more than the fast
    // levels search; the checksum stops a damaged frame early.
    if (ZSTD_isError(ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, kLevel)) ||
        ZSTD_isError(ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, WindowLog(reference.size(), length))) ||
        ZSTD_isError(ZSTD_CCtx_setParameter(context, ZSTD_c_enableLongDistanceMatching, 1)) ||
        ZSTD_isError(ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1)) ||
        ZSTD_isError(ZSTD_CCtx_refPrefix(context, reference.data(), reference.size())))
        return false;
    const size_t at = out.size();
    out.resize(at + ZSTD_compressBound(length));
    const size_t written =
        ZSTD_compress2(context, out.data() + at, out.size() - at, oldMiddle + index * kChunkSize, length);
    if (ZSTD_isError(written)) return false;
    out.resize(at + written);
    return true;
}

struct DeltaDecoder::State {
    struct Free {
        void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
    };
    std::unique_ptr<ZSTD_DCtx, Free> context{ZSTD_createDCtx()};
};

DeltaDecoder::DeltaDecoder() : state_(std::make_unique<State>()) {}
DeltaDecoder::~DeltaDecoder() = default;

DecodeResult DeltaDecoder::Decode(const uint8_t* frame, size_t frameSize, const Middles& middles, uint64_t index,
                                  ByteSource& currentFile, std::vector<uint8_t>& chunk) {
    ZSTD_DCtx* context = state_->context.get();
    const uint64_t length = ChunkLength(middles, index);
    // The frame's own claims are checked before anything is allocated for
    // it: one whole frame, of exactly the chunk's size.
    if (!context || ZSTD_findFrameCompressedSize(frame, frameSize) != frameSize ||
        ZSTD_getFrameContentSize(frame, frameSize) != length)
        return DecodeResult::BadFrame;
    std::vector<uint8_t> reference;
    if (!LoadReference(currentFile, middles, index, reference)) return DecodeResult::ReadFailed;
    ZSTD_DCtx_reset(context, ZSTD_reset_session_and_parameters);
    if (ZSTD_isError(ZSTD_DCtx_setParameter(context, ZSTD_d_windowLogMax, WindowLog(reference.size(), length))) ||
        ZSTD_isError(ZSTD_DCtx_refPrefix(context, reference.data(), reference.size())))
        return DecodeResult::BadFrame;
    chunk.resize(static_cast<size_t>(length));
    const size_t produced = ZSTD_decompressDCtx(context, chunk.data(), chunk.size(), frame, frameSize);
    return !ZSTD_isError(produced) && produced == length ? DecodeResult::Ok : DecodeResult::BadFrame;
}

}  // namespace kes::journal
