// Helpers for the journal's tests, portable: journals written into memory,
// files shaped like the ones the tool rewrites, and records found in a
// journal's bytes.
#ifndef KESTRANE_JOURNAL_TEST_SUPPORT_H
#define KESTRANE_JOURNAL_TEST_SUPPORT_H

#include <optional>
#include <string>
#include <vector>

#include "Journal.h"

namespace kes_journal_test {

using kes::journal::Digest;
using Bytes = std::vector<uint8_t>;

Bytes ToBytes(const std::string& text);
Digest Hash(const Bytes& bytes);
std::string Hex(const Digest& digest);

class VectorSink : public kes::journal::ByteSink {
public:
    bool Write(const uint8_t* data, size_t length) override {
        bytes.insert(bytes.end(), data, data + length);
        return true;
    }
    Bytes bytes;
};

// A journal's output in memory that can be told to fail.
class RecordingOutput : public kes::journal::RecordOutput {
public:
    bool Write(const uint8_t* data, size_t length) override;
    bool Flush() override { return !failFlush; }
    Bytes bytes;
    bool failWrite = false;
    bool failFlush = false;
};

// One run's journal, written in memory.
class RunFixture {
    RecordingOutput output_;  // first: `bytes` refers into it

public:
    explicit RunFixture(kes::journal::RunInfo info = {0, u"C:\\run", u"テスト", u"test.cpi"});
    // Journals one file; returns how many bytes its records took.
    size_t Append(const std::u16string& path, const Bytes& old, const Bytes& now, uint64_t oldTime = 0,
                  uint32_t oldAttributes = 0, uint64_t newTime = 0);
    // The journal as written so far; valid while the fixture lives and
    // nothing more is appended.
    std::optional<kes::journal::JournalReader> Read();

    const uint64_t salt = 0x5eed5a175eed5a17;
    Bytes& bytes = output_.bytes;

private:
    kes::journal::JournalWriter writer_;
    kes::journal::MemorySource source_{nullptr, 0};
};

// Checks the file as the undo does, then rebuilds its old contents;
// nothing unless both steps succeed.
std::optional<Bytes> Undo(const kes::journal::JournalReader& reader, const kes::journal::FileEntry& entry,
                          const Bytes& current);

// A JPEG-shaped file: a comment segment near the start, then `size` bytes
// of pseudo-random image data, the same whatever the comment.
Bytes JpegLike(size_t size, const std::string& comment);
// An Ogg-shaped file: the comment in pages of up to 255 bytes, then
// `pages` pages of 4 KB of pseudo-random audio, each with its sequence
// number and a CRC over the page. A longer comment takes more pages, and
// every page after it is renumbered, as a rewrite of an Ogg file does.
Bytes OggLike(size_t pages, const std::string& comment);

// Where the journal's records start, from the header's end, with the
// journal's end as the last entry.
std::vector<size_t> RecordStarts(const Bytes& journal);
// Seals every record again, so that a change made to its payload passes
// the record's CRC.
void ResealAll(Bytes& journal, uint64_t salt);

}  // namespace kes_journal_test

#endif
