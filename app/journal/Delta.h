// The old contents of a file as a delta against its new contents. Portable.
//
// The bytes both versions share at the start (prefix) and at the end
// (suffix) are not stored: an undo copies them from the file as it is. The
// old bytes between them (the old middle) are cut into chunks, and each is
// compressed with zstd against a reference prefix taken from the new
// middle: a window around the same place counted from the start, and one
// counted from the end, since a comment that changed size shifts everything
// after it. zstd then finds the unchanged runs as long matches, so that an
// Ogg file whose pages were all renumbered costs a few bytes per page.
//
// Chunks keep memory flat whatever the file's size: neither side ever holds
// more of the new file than one chunk's reference, and a window always
// stays far below what zstd allows on 32 bits (1 GiB).
#ifndef KESTRANE_JOURNAL_DELTA_H
#define KESTRANE_JOURNAL_DELTA_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "ByteStreams.h"
#include "Sha256.h"

namespace kes::journal {

constexpr uint64_t kChunkSize = uint64_t{32} << 20;
// How far around a chunk's place in the new middle its reference reaches.
constexpr uint64_t kReferenceMargin = uint64_t{4} << 20;

// What the new file shares with the old contents, and the hashes of both,
// from one read of it in order; nothing when it could not be read or hashed.
struct NewFileScan {
    uint64_t prefix = 0;
    uint64_t suffix = 0;
    Digest hash{};
    // The old contents' hash too: the start both share is hashed once.
    Digest oldHash{};
};
std::optional<NewFileScan> ScanNewFile(const uint8_t* old, size_t oldSize, ByteSource& file);

// Where the two versions differ: both middles start after the prefix.
struct Middles {
    uint64_t start = 0;
    uint64_t oldSize = 0;
    uint64_t newSize = 0;
};
// The sizes must hold the prefix and the suffix (the file record checks it).
Middles MiddlesOf(uint64_t oldSize, uint64_t newSize, uint64_t prefix, uint64_t suffix);
uint64_t ChunkCount(const Middles& middles);

class DeltaEncoder {
public:
    DeltaEncoder();
    ~DeltaEncoder();
    DeltaEncoder(const DeltaEncoder&) = delete;
    DeltaEncoder& operator=(const DeltaEncoder&) = delete;

    // Appends the frame of chunk `index` of the old middle (which starts at
    // `oldMiddle`) to `out`, with its reference read from `newFile`.
    bool Encode(const uint8_t* oldMiddle, const Middles& middles, uint64_t index, ByteSource& newFile,
                std::vector<uint8_t>& out);

private:
    struct State;
    std::unique_ptr<State> state_;
};

enum class DecodeResult { Ok, BadFrame, ReadFailed };

class DeltaDecoder {
public:
    DeltaDecoder();
    ~DeltaDecoder();
    DeltaDecoder(const DeltaDecoder&) = delete;
    DeltaDecoder& operator=(const DeltaDecoder&) = delete;

    // Rebuilds chunk `index` of the old middle into `chunk` from its frame
    // and the current file. BadFrame unless the frame is exactly one intact
    // zstd frame that yields exactly the chunk's size.
    DecodeResult Decode(const uint8_t* frame, size_t frameSize, const Middles& middles, uint64_t index,
                ByteSource& currentFile, std::vector<uint8_t>& chunk);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace kes::journal

#endif
