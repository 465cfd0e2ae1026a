// Replays the fuzzers' kept corpus through the same checks the fuzzers
// make, so that what fuzzing once found stays fixed; and compares every
// output with a recorded digest, so that a change of how a core builds its
// output alters no byte of any file. (The first four formats' digests were
// recorded before the cores wrote their output as pieces.)
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "CoreTestSupport.h"
#include "FuzzChecks.h"

namespace {

std::string CorpusDir(const std::string& format) { return std::string(KES_CORPUS_DIR) + "/" + format; }

std::string DigestFile(const std::string& format) {
    return std::string(KES_DIGEST_DIR) + "/" + format + ".txt";
}

std::map<std::string, std::string> ReadDigests(const std::string& format) {
    std::map<std::string, std::string> digests;
    std::ifstream in(DigestFile(format));
    std::string name, digest;
    while (in >> name >> digest) digests[name] = digest;
    return digests;
}

void Replay(const std::string& format, std::string (*check)(const uint8_t*, size_t)) {
    const std::vector<std::string> files = kes_test::FilesIn(CorpusDir(format));
    ASSERT_GE(files.size(), 5u) << "the " << format << " corpus is missing";
    // KES_RECORD_DIGESTS=1 writes the digests anew instead of comparing.
    const bool record = std::getenv("KES_RECORD_DIGESTS") != nullptr;
    const std::map<std::string, std::string> expected = ReadDigests(format);
    std::ostringstream recorded;
    for (const std::string& path : files) {
        const std::string input = kes_test::ReadFile(path);
        const auto* data = reinterpret_cast<const uint8_t*>(input.data());
        EXPECT_EQ(check(data, input.size()), "") << path;
        const std::string name = path.substr(path.find_last_of('/') + 1);
        const std::string digest = kes_fuzz::OutputDigest(format, data, input.size());
        if (record) {
            recorded << name << ' ' << digest << '\n';
        } else {
            const auto it = expected.find(name);
            EXPECT_TRUE(it != expected.end() && it->second == digest) << "output changed for " << path;
        }
    }
    if (record) std::ofstream(DigestFile(format)) << recorded.str();
}

}  // namespace

TEST(CorpusReplay, Zip) { Replay("zip", kes_fuzz::CheckZip); }
TEST(CorpusReplay, Jpeg) { Replay("jpeg", kes_fuzz::CheckJpeg); }
TEST(CorpusReplay, Png) { Replay("png", kes_fuzz::CheckPng); }
TEST(CorpusReplay, Gif) { Replay("gif", kes_fuzz::CheckGif); }
TEST(CorpusReplay, Mp3) { Replay("mp3", kes_fuzz::CheckMp3); }
TEST(CorpusReplay, Flac) { Replay("flac", kes_fuzz::CheckFlac); }
TEST(CorpusReplay, Ogg) { Replay("ogg", kes_fuzz::CheckOgg); }
TEST(CorpusReplay, Wav) { Replay("wav", kes_fuzz::CheckWav); }
TEST(CorpusReplay, M4a) { Replay("m4a", kes_fuzz::CheckM4a); }
