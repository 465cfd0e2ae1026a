// What the journal reads from and writes to, kept abstract so that a file of
// 1.5 GB never needs a second copy in memory: a file is read in pieces at
// the offsets asked for, and rebuilt contents are written out as they come.
#ifndef KESTRANE_JOURNAL_BYTE_STREAMS_H
#define KESTRANE_JOURNAL_BYTE_STREAMS_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kes::journal {

// Bytes that can be read at any offset: a file on disk, or memory.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Reads exactly `length` bytes at `offset`; false when they cannot all
    // be read (a read error, or a range past the end).
    virtual bool Read(uint64_t offset, uint8_t* buffer, size_t length) = 0;
};

// Where rebuilt or encoded bytes go, in order.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    // False when the bytes could not all be written.
    virtual bool Write(const uint8_t* data, size_t length) = 0;
};

// A journal on its way to disk: bytes appended in order, and a point at
// which everything appended so far must be durable.
class RecordOutput : public ByteSink {
public:
    virtual bool Flush() = 0;
};

// Contents held in memory, read like a file.
class MemorySource : public ByteSource {
public:
    MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint64_t Size() const override { return size_; }
    bool Read(uint64_t offset, uint8_t* buffer, size_t length) override {
        if (offset > size_ || length > size_ - offset) return false;
        if (length != 0) std::memcpy(buffer, data_ + offset, length);
        return true;
    }

private:
    const uint8_t* data_;
    size_t size_;
};

}  // namespace kes::journal

#endif
