// What must hold for any input to the run journal's core, shared by the
// libFuzzer targets (run_journal.sh) and by the tests that replay their
// corpus. Each returns an empty text when the core behaved, else what went
// wrong.
#ifndef KESTRANE_FUZZ_JOURNAL_CHECKS_H
#define KESTRANE_FUZZ_JOURNAL_CHECKS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kes_fuzz {

// Input: byte 0-1 the length L of a current file (little-endian), its L
// bytes, then a journal. Every file the journal offers is checked against
// the current file and rebuilt from it; then again with every record
// sealed anew, so that damage a CRC would stop reaches the records' fields
// and the delta. Nothing may crash, and a rebuild may succeed only with
// exactly the recorded old size and hash.
std::string CheckJournalReader(const uint8_t* data, size_t size);

// Input: byte 0-1 the length L of an old file, its L bytes, then the new
// file. The pair is journalled and undone, which must give the old bytes
// back; then one byte of the journal (chosen by the input) is changed and
// the records sealed again, and the undo may then give the old bytes or
// nothing.
std::string CheckJournalDelta(const uint8_t* data, size_t size);

// A reader input for the pair: the new file, and the journal of the change.
std::vector<uint8_t> JournalReaderInput(const std::vector<uint8_t>& old, const std::vector<uint8_t>& now);

}  // namespace kes_fuzz

#endif
