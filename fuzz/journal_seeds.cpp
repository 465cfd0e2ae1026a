// Writes the first seeds of the journal's fuzzing corpora: pairs of old and
// new files as a run makes them, for the delta target, and their journals
// with the new file, for the reader target.
//   journal_seeds DELTA_DIR READER_DIR
#include <fstream>
#include <string>

#include "JournalChecks.h"
#include "JournalTestSupport.h"

using kes_journal_test::Bytes;

namespace {

void Write(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    using kes_journal_test::JpegLike;
    using kes_journal_test::OggLike;
    const std::pair<Bytes, Bytes> pairs[] = {
        {JpegLike(600, "old comment"), JpegLike(600, "a new and longer comment")},
        {JpegLike(600, "a comment that shrinks"), JpegLike(600, "short")},
        {OggLike(1, "old"), OggLike(1, std::string(300, 'n'))},
        {Bytes(), JpegLike(100, "")},
        {JpegLike(100, "same"), JpegLike(100, "same")},
        {kes_journal_test::ToBytes("tail of a file"), kes_journal_test::ToBytes("tail of a file with a comment")},
    };
    int n = 0;
    for (const auto& [old, now] : pairs) {
        Bytes delta = {static_cast<uint8_t>(old.size()), static_cast<uint8_t>(old.size() >> 8)};
        delta.insert(delta.end(), old.begin(), old.end());
        delta.insert(delta.end(), now.begin(), now.end());
        Write(std::string(argv[1]) + "/seed" + std::to_string(n), delta);
        Write(std::string(argv[2]) + "/seed" + std::to_string(n), kes_fuzz::JournalReaderInput(old, now));
        ++n;
    }
    return 0;
}
