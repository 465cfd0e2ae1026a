#include "JournalChecks.h"

#include <algorithm>

#include "JournalTestSupport.h"

namespace kes_fuzz {

using namespace kes::journal;
using kes_journal_test::Bytes;

namespace {

// The two parts of an input: a piece whose length the first two bytes give,
// and the rest.
struct Split {
    const uint8_t* first;
    size_t firstSize;
    const uint8_t* rest;
    size_t restSize;
};
Split SplitInput(const uint8_t* data, size_t size) {
    const size_t length = std::min<size_t>(size_t{data[0]} | size_t{data[1]} << 8, size - 2);
    return {data + 2, length, data + 2 + length, size - 2 - length};
}

// Rebuilds every file the journal offers from `current`, without the check
// that the file is as the run left it: a rebuild that passes must have
// given exactly the recorded old bytes.
std::string RebuildAll(const JournalReader& reader, ByteSource& current) {
    for (const FileEntry& file : reader.Files()) {
        kes_journal_test::VectorSink sink;
        if (reader.Rebuild(file, current, sink) != UndoStep::Ok) continue;
        const bool old = sink.bytes.size() == file.record.before.size &&
                         kes_journal_test::Hash(sink.bytes) == file.record.before.hash;
        if (!old) return "a rebuild passed with bytes that are not the old ones";
    }
    return "";
}

// Reads a journal of any bytes: its files must agree with their records,
// and none may rebuild to anything but its old bytes.
std::string CheckJournal(ByteSource& journal, ByteSource& current) {
    const std::optional<JournalReader> reader = JournalReader::Open(journal);
    if (!reader) return "";
    for (const FileEntry& file : reader->Files()) {
        const uint64_t chunks = ChunkCount(MiddlesOf(file.record));
        if (file.complete != (file.chunks.size() == chunks) || file.chunks.size() > chunks)
            return "a file's chunks do not match its record";
        CheckAsLeft(file, current, file.record.after.time);
    }
    return RebuildAll(*reader, current);
}

}  // namespace

std::string CheckJournalReader(const uint8_t* data, size_t size) {
    if (size < 2) return "";
    const Split input = SplitInput(data, size);
    MemorySource current(input.first, input.firstSize), journal(input.rest, input.restSize);
    const std::string problem = CheckJournal(journal, current);
    const std::optional<JournalHeader> header = DecodeHeader(journal);
    if (!problem.empty() || !header) return problem;
    // The same bytes with every record sealed again, so that what a CRC
    // would stop reaches the records' fields and the delta.
    Bytes sealed(input.rest, input.rest + input.restSize);
    kes_journal_test::ResealAll(sealed, header->salt);
    MemorySource sealedJournal(sealed.data(), sealed.size());
    return CheckJournal(sealedJournal, current);
}

std::string CheckJournalDelta(const uint8_t* data, size_t size) {
    if (size < 4) return "";
    const Split input = SplitInput(data, size);
    const Bytes old(input.first, input.first + input.firstSize), now(input.rest, input.rest + input.restSize);
    kes_journal_test::RunFixture run;
    run.Append(u"C:\\run\\file", old, now);
    const std::optional<JournalReader> reader = run.Read();
    if (!reader || reader->End() != JournalEnd::Clean || reader->Files().size() != 1 ||
        !reader->Files()[0].complete)
        return "a journal did not read back whole";
    if (kes_journal_test::Undo(*reader, reader->Files()[0], now) != old)
        return "an undo did not give the old bytes back";

    // One byte of the records changed where the input says, and sealed
    // again so that the CRCs cannot catch it.
    Bytes copy = run.bytes;
    const size_t records = kes_journal_test::RecordStarts(copy).front();
    const size_t at = records + (size_t{data[size - 2]} << 8 | data[size - 1]) % (copy.size() - records);
    copy[at] ^= static_cast<uint8_t>(1 + data[size - 1] % 255);
    kes_journal_test::ResealAll(copy, run.salt);
    MemorySource journal(copy.data(), copy.size()), current(now.data(), now.size());
    const std::optional<JournalReader> damaged = JournalReader::Open(journal);
    return damaged ? RebuildAll(*damaged, current) : "";
}

std::vector<uint8_t> JournalReaderInput(const std::vector<uint8_t>& old, const std::vector<uint8_t>& now) {
    kes_journal_test::RunFixture run;
    run.Append(u"C:\\run\\file", old, now);
    std::vector<uint8_t> input;
    input.reserve(2 + now.size() + run.bytes.size());
    input.push_back(static_cast<uint8_t>(now.size()));
    input.push_back(static_cast<uint8_t>(now.size() >> 8));
    input.insert(input.end(), now.begin(), now.end());
    input.insert(input.end(), run.bytes.begin(), run.bytes.end());
    return input;
}

}  // namespace kes_fuzz
