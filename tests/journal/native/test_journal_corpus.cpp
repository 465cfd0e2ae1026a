// Replays the journal fuzzers' kept corpus through the same checks the
// fuzzers make, so that what fuzzing once found stays fixed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "JournalChecks.h"

namespace {

void Replay(const std::string& target, std::string (*check)(const uint8_t*, size_t)) {
    const std::filesystem::path folder = std::filesystem::path(KES_CORPUS_DIR) / ("journal_" + target);
    size_t replayed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<uint8_t> input{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        EXPECT_EQ(check(input.data(), input.size()), "") << entry.path();
        ++replayed;
    }
    EXPECT_GE(replayed, 5u) << "the " << target << " corpus is missing";
}

TEST(JournalCorpusReplay, Reader) { Replay("reader", kes_fuzz::CheckJournalReader); }
TEST(JournalCorpusReplay, Delta) { Replay("delta", kes_fuzz::CheckJournalDelta); }

}  // namespace
