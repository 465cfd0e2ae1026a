#include "JournalTestSupport.h"

#include <zlib.h>

#include <random>
#include <stdexcept>

namespace kes_journal_test {

using namespace kes::journal;

Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

Digest Hash(const Bytes& bytes) {
    Sha256 hash;
    hash.Update(bytes.data(), bytes.size());
    return hash.Final().value();
}

std::string Hex(const Digest& digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t byte : digest) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}

bool RecordingOutput::Write(const uint8_t* data, size_t length) {
    if (failWrite) return false;
    bytes.insert(bytes.end(), data, data + length);
    return true;
}

RunFixture::RunFixture(RunInfo info) : writer_(output_, salt, std::move(info)) {
    if (!writer_.Begin()) throw std::runtime_error("the journal's header was not written");
}

size_t RunFixture::Append(const std::u16string& path, const Bytes& old, const Bytes& now, uint64_t oldTime,
                          uint32_t oldAttributes, uint64_t newTime) {
    const size_t before = bytes.size();
    MemorySource source(now.data(), now.size());
    if (!writer_.AppendFile({path, oldTime, oldAttributes, newTime}, old.data(), old.size(), source))
        throw std::runtime_error("a file was not journalled");
    return bytes.size() - before;
}

std::optional<JournalReader> RunFixture::Read() {
    source_ = MemorySource(bytes.data(), bytes.size());
    return JournalReader::Open(source_);
}

std::optional<Bytes> Undo(const JournalReader& reader, const FileEntry& entry, const Bytes& current) {
    MemorySource source(current.data(), current.size());
    if (CheckAsLeft(entry, source, entry.record.after.time) != UndoStep::Ok) return std::nullopt;
    VectorSink sink;
    if (reader.Rebuild(entry, source, sink) != UndoStep::Ok) return std::nullopt;
    return sink.bytes;
}

namespace {

void PutLe32(Bytes& out, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

Bytes Noise(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
    return bytes;
}

void AppendOggPage(Bytes& out, uint32_t sequence, const Bytes& body) {
    const size_t at = out.size();
    const std::string capture = "OggS";
    out.insert(out.end(), capture.begin(), capture.end());
    out.resize(at + 26);
    PutLe32(out, at + 18, sequence);
    const size_t segments = (body.size() + 254) / 255;
    out.push_back(static_cast<uint8_t>(segments));
    for (size_t left = body.size(); left > 0; left -= std::min<size_t>(left, 255))
        out.push_back(static_cast<uint8_t>(std::min<size_t>(left, 255)));
    out.insert(out.end(), body.begin(), body.end());
    PutLe32(out, at + 22, static_cast<uint32_t>(crc32(0, &out[at], static_cast<uInt>(out.size() - at))));
}

}  // namespace

Bytes JpegLike(size_t size, const std::string& comment) {
    Bytes out = {0xff, 0xd8, 0xff, 0xe0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0};
    const size_t length = comment.size() + 2;
    out.insert(out.end(), {0xff, 0xfe, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)});
    out.insert(out.end(), comment.begin(), comment.end());
    const Bytes image = Noise(size, 1);
    out.insert(out.end(), image.begin(), image.end());
    out.insert(out.end(), {0xff, 0xd9});
    return out;
}

Bytes OggLike(size_t pages, const std::string& comment) {
    Bytes out;
    uint32_t sequence = 0;
    for (size_t at = 0; at < comment.size() || at == 0; at += 255)
        AppendOggPage(out, sequence++, ToBytes(comment.substr(at, 255)));
    std::mt19937 random(2);
    for (size_t page = 0; page < pages; ++page) {
        Bytes body(4080);
        for (uint8_t& byte : body) byte = static_cast<uint8_t>(random());
        AppendOggPage(out, sequence++, body);
    }
    return out;
}

std::vector<size_t> RecordStarts(const Bytes& journal) {
    MemorySource source(journal.data(), journal.size());
    std::vector<size_t> starts;
    size_t at = static_cast<size_t>(DecodeHeader(source).value().size);
    while (at + kRecordHeaderSize <= journal.size()) {
        starts.push_back(at);
        at += kRecordHeaderSize + (journal[at] | journal[at + 1] << 8 | journal[at + 2] << 16 |
                                   static_cast<uint32_t>(journal[at + 3]) << 24);
    }
    starts.push_back(journal.size());
    return starts;
}

void ResealAll(Bytes& journal, uint64_t salt) {
    const std::vector<size_t> starts = RecordStarts(journal);
    for (size_t i = 0; i + 1 < starts.size(); ++i) {
        std::vector<uint8_t> record(journal.begin() + starts[i], journal.begin() + starts[i + 1]);
        SealRecord(record, salt, static_cast<uint32_t>(i));
        std::copy(record.begin(), record.end(), journal.begin() + starts[i]);
    }
}

}  // namespace kes_journal_test
