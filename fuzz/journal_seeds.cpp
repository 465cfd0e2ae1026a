// Writes the first seeds of the journal's fuzzing corpora: pairs of old and
// new files as a run makes them, for the delta target, and their journals
// with the new file, for the reader target; and a journal of the tool's own
// commit, whose records name replaces and mark their end.
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

// A group the tool wrote: a planned file's record with its replace's token,
// a put-back's intent, the group's end with the written file's identity,
// and then a replace that a crash left open. As the reader target takes it:
// the new file first, then the journal.
Bytes CommitJournal(const Bytes& old, const Bytes& now) {
    using namespace kes::journal;
    using kes_journal_test::Hash;
    kes_journal_test::RecordingOutput out;
    JournalWriter writer(out, 0x5eed5a175eed5a17, RunInfo{0, u"C:\\run", u"テスト", u"test.cpi"});
    MemorySource source(now.data(), now.size());
    WrittenFile file{u"C:\\run\\file", 1, 0x20, 2};
    file.token = 0x1234;
    const FileVersion before{old.size(), 1, Hash(old)}, after{now.size(), 2, Hash(now)};
    DoneRecord done;
    done.identities.emplace_back(0, FileIdentity{7, 42});
    if (!writer.Begin() || !writer.AppendFile(file, old.data(), old.size(), source, false) ||
        !writer.AppendIntent({u"C:\\run\\other", false, 0x5678, after, before}) || !writer.AppendDone(done) ||
        !writer.AppendIntent({u"file", true, 0x9abc, before, after}) || !writer.Flush())
        return Bytes();
    Bytes input = {static_cast<uint8_t>(now.size()), static_cast<uint8_t>(now.size() >> 8)};
    input.insert(input.end(), now.begin(), now.end());
    input.insert(input.end(), out.bytes.begin(), out.bytes.end());
    return input;
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
    const Bytes commit = CommitJournal(JpegLike(600, "old comment"), JpegLike(600, "a new and longer comment"));
    if (commit.empty()) return 1;
    Write(std::string(argv[2]) + "/seed_commit", commit);
    return 0;
}
