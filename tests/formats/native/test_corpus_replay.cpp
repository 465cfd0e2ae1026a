// Replays the fuzzers' kept corpus through the same checks the fuzzers
// make, so that what fuzzing once found stays fixed.
#include <gtest/gtest.h>

#include "CoreTestSupport.h"
#include "FuzzChecks.h"

namespace {

void Replay(const std::string& format, std::string (*check)(const uint8_t*, size_t)) {
    const std::vector<std::string> files = kes_test::FilesIn(std::string(KES_CORPUS_DIR) + "/" + format);
    ASSERT_GE(files.size(), 5u) << "the " << format << " corpus is missing";
    for (const std::string& path : files) {
        const std::string input = kes_test::ReadFile(path);
        EXPECT_EQ(check(reinterpret_cast<const uint8_t*>(input.data()), input.size()), "") << path;
    }
}

}  // namespace

TEST(CorpusReplay, Zip) { Replay("zip", kes_fuzz::CheckZip); }
TEST(CorpusReplay, Jpeg) { Replay("jpeg", kes_fuzz::CheckJpeg); }
TEST(CorpusReplay, Png) { Replay("png", kes_fuzz::CheckPng); }
TEST(CorpusReplay, Gif) { Replay("gif", kes_fuzz::CheckGif); }
