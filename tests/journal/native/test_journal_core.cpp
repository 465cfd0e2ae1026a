// The journal's portable core: records and deltas written and read back,
// and what a crash, a cut or a flipped bit does to them.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "Journal.h"
#include "JournalTestSupport.h"

namespace kes::journal {
namespace {

using namespace kes_journal_test;

// Every pair is journalled, read back, found as the run left it, and
// rebuilt byte for byte.
TEST(JournalRoundTrip, SmallEmptyAndEdgeContents) {
    const Bytes text = ToBytes("The quick brown fox jumps over the lazy dog, again and again and again.");
    Bytes changedStart = text, changedEnd = text;
    changedStart[0] = 't';
    changedEnd.back() = '!';
    Bytes grown = text, shrunk = text;
    grown.insert(grown.begin() + 10, 5, '#');
    shrunk.erase(shrunk.begin() + 10, shrunk.begin() + 20);
    const std::vector<std::pair<Bytes, Bytes>> pairs = {
        {Bytes(), Bytes()},
        {Bytes(), text},
        {text, Bytes()},
        {text, text},
        {text, changedStart},
        {text, changedEnd},
        {changedStart, changedEnd},
        {text, grown},
        {grown, text},
        {text, shrunk},
        {text, Bytes(text.begin(), text.begin() + 20)},  // the new is the start of the old
        {Bytes(text.begin(), text.begin() + 20), text},  // and the other way round
        {Bytes(text.begin() + 20, text.end()), text},    // the old is the end of the new
        {ToBytes("a"), ToBytes("b")},
        {ToBytes("aaaa"), ToBytes("aa")},  // runs: prefix and suffix could overlap
        {ToBytes("aa"), ToBytes("aaaa")},
    };
    for (const auto& [old, now] : pairs) {
        SCOPED_TRACE(std::string(old.begin(), old.end()) + " -> " + std::string(now.begin(), now.end()));
        RunFixture run;
        run.Append(u"C:\\run\\f.txt", old, now);
        const auto reader = run.Read();
        ASSERT_TRUE(reader);
        EXPECT_EQ(reader->End(), JournalEnd::Clean);
        ASSERT_EQ(reader->Files().size(), 1u);
        const FileEntry& entry = reader->Files()[0];
        EXPECT_TRUE(entry.complete);
        EXPECT_EQ(entry.record.before.size, old.size());
        EXPECT_EQ(entry.record.after.size, now.size());
        EXPECT_EQ(entry.record.before.hash, Hash(old));
        EXPECT_EQ(entry.record.after.hash, Hash(now));
        EXPECT_LE(entry.record.prefix + entry.record.suffix, std::min(old.size(), now.size()));
        EXPECT_EQ(Undo(*reader, entry, now), old);
    }
}

TEST(JournalRoundTrip, RunInfoFileFactsAndPathsBelowTheFolder) {
    RunInfo info{0x01d9f00012345678, u"C:\\写真", u"JPEG 画像", u"kes_jpeg.cpi"};
    RunFixture run(info);
    run.Append(u"C:\\写真\\sub\\a.jpg", ToBytes("old"), ToBytes("new!"), 0x1111, 0x20, 0x2222);
    run.Append(u"D:\\elsewhere\\b.jpg", ToBytes("x"), ToBytes("y"));
    run.Append(u"C:\\写真2\\c.jpg", ToBytes("x"), ToBytes("y"));  // beside the folder, not below it
    const auto reader = run.Read();
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->Info().startTime, info.startTime);
    EXPECT_EQ(reader->Info().folder, info.folder);
    EXPECT_EQ(reader->Info().typeDescription, info.typeDescription);
    EXPECT_EQ(reader->Info().pluginFile, info.pluginFile);
    ASSERT_EQ(reader->Files().size(), 3u);
    const FileEntry& below = reader->Files()[0];
    EXPECT_TRUE(below.record.relative);
    EXPECT_EQ(below.record.path, u"sub\\a.jpg");
    EXPECT_EQ(below.path, u"C:\\写真\\sub\\a.jpg");
    EXPECT_EQ(below.record.before.time, 0x1111u);
    EXPECT_EQ(below.record.beforeAttributes, 0x20u);
    EXPECT_EQ(below.record.after.time, 0x2222u);
    EXPECT_FALSE(reader->Files()[1].record.relative);
    EXPECT_EQ(reader->Files()[1].path, u"D:\\elsewhere\\b.jpg");
    EXPECT_FALSE(reader->Files()[2].record.relative);
    EXPECT_EQ(reader->Files()[2].path, u"C:\\写真2\\c.jpg");

    RunFixture rooted(RunInfo{0, u"\\\\?\\C:\\", u"", u""});
    rooted.Append(u"\\\\?\\C:\\a.jpg", ToBytes("x"), ToBytes("y"));
    EXPECT_EQ(rooted.Read()->Files()[0].record.path, u"a.jpg");
    EXPECT_EQ(rooted.Read()->Files()[0].path, u"\\\\?\\C:\\a.jpg");
}

// A pattern list can queue one file twice: the run writes it twice, and the
// undo, newest record first, takes it back one step at a time.
TEST(JournalRoundTrip, AFileWrittenTwiceGoesBackInTwoSteps) {
    const Bytes first = JpegLike(5000, "first"), second = JpegLike(5000, "second"), third = JpegLike(5000, "3rd");
    RunFixture run;
    run.Append(u"C:\\run\\a.jpg", first, second, 1, 0, 2);
    run.Append(u"C:\\run\\a.jpg", second, third, 2, 0, 3);
    const auto reader = run.Read();
    ASSERT_EQ(reader->Files().size(), 2u);
    // In the run's order the first record finds the file changed since.
    MemorySource current(third.data(), third.size());
    EXPECT_EQ(CheckAsLeft(reader->Files()[0], current, 3), UndoStep::FileChanged);
    const std::optional<Bytes> back = Undo(*reader, reader->Files()[1], third);
    ASSERT_TRUE(back);
    EXPECT_EQ(Undo(*reader, reader->Files()[0], *back), first);
}

// What the record of a comment's change costs: at most the old comment's
// bytes + 256 + 100 per MB of the file, and 1 % of an Ogg file whose pages
// were all renumbered.
TEST(JournalSize, ACommentThatGrewCostsLittleMoreThanTheOldComment) {
    const Bytes old = JpegLike(4 << 20, std::string(35, 'c'));
    const Bytes now = JpegLike(4 << 20, std::string(38, 'n'));
    RunFixture run;
    const size_t bytes = run.Append(u"C:\\run\\photo.jpg", old, now);
    EXPECT_LE(bytes, 35u + 256 + 4 * 100);
    EXPECT_EQ(Undo(*run.Read(), run.Read()->Files()[0], now), old);
}

TEST(JournalSize, PagesRenumberedThroughoutStayUnderOnePercent) {
    const Bytes old = OggLike(1000, "a short comment");
    const Bytes now = OggLike(1000, std::string(300, 'L'));  // one page more for the comment
    RunFixture run;
    const size_t bytes = run.Append(u"C:\\run\\song.ogg", old, now);
    EXPECT_LT(bytes, old.size() / 100);
    EXPECT_EQ(Undo(*run.Read(), run.Read()->Files()[0], now), old);
}

// A file bigger than two chunks, renumbered throughout: several chunk
// records, each compressed against its own part of the new file.
class BigFile : public testing::Test {
protected:
    static void SetUpTestSuite() {
        old_ = new Bytes(OggLike(17000, "old"));  // about 68 MB
        now_ = new Bytes(OggLike(17000, std::string(5000, 'N')));
        run_ = new RunFixture();
        bytes_ = run_->Append(u"C:\\run\\big.ogg", *old_, *now_);
    }
    static void TearDownTestSuite() {
        delete run_;
        delete old_;
        delete now_;
    }
    static Bytes* old_;
    static Bytes* now_;
    static RunFixture* run_;
    static size_t bytes_;
};
Bytes* BigFile::old_;
Bytes* BigFile::now_;
RunFixture* BigFile::run_;
size_t BigFile::bytes_;

TEST_F(BigFile, RoundTripsInChunksAndStaysSmall) {
    const auto reader = run_->Read();
    ASSERT_TRUE(reader);
    const FileEntry& entry = reader->Files().at(0);
    EXPECT_EQ(entry.chunks.size(), 3u);
    EXPECT_LT(bytes_, old_->size() / 100);
    EXPECT_EQ(Undo(*reader, entry, *now_), *old_);
}

TEST_F(BigFile, AJournalCutBetweenItsChunksLeavesTheFileIncomplete) {
    const auto whole = run_->Read();
    const Bytes cut(run_->bytes.begin(), run_->bytes.begin() + whole->Files()[0].chunks[1].offset);
    MemorySource source(cut.data(), cut.size());
    const auto reader = JournalReader::Open(source);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->End(), JournalEnd::Clean);  // the cut fell between two records
    ASSERT_EQ(reader->Files().size(), 1u);
    EXPECT_FALSE(reader->Files()[0].complete);
    MemorySource current(now_->data(), now_->size());
    VectorSink sink;
    EXPECT_EQ(reader->Rebuild(reader->Files()[0], current, sink), UndoStep::JournalDamaged);
}

TEST(UndoChecks, AFileChangedSinceTheRunIsNotAsLeft) {
    const Bytes old = ToBytes("old contents"), now = ToBytes("new contents");
    RunFixture run;
    run.Append(u"C:\\run\\f.txt", old, now, 1, 0, 42);
    const auto reader = run.Read();
    const FileEntry& entry = reader->Files()[0];
    const auto check = [&](const Bytes& current, uint64_t time) {
        MemorySource source(current.data(), current.size());
        return CheckAsLeft(entry, source, time);
    };
    EXPECT_EQ(check(now, 42), UndoStep::Ok);
    EXPECT_EQ(check(now, 43), UndoStep::FileChanged);
    EXPECT_EQ(check(ToBytes("new contents!"), 42), UndoStep::FileChanged);
    EXPECT_EQ(check(ToBytes("new_contents"), 42), UndoStep::FileChanged);  // same size and time

    // Rebuilding from a changed file (were the check skipped) never passes
    // when the change reaches the bytes the rebuild takes from it.
    const Bytes changed = ToBytes("new contentS");
    MemorySource source(changed.data(), changed.size());
    VectorSink sink;
    EXPECT_EQ(reader->Rebuild(entry, source, sink), UndoStep::JournalDamaged);
}

// A journal of three files, to cut and damage.
class DamagedJournal : public testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < 3; ++i) {
            olds_.push_back(ToBytes("old contents of file " + std::to_string(i) + std::string(40, 'o')));
            news_.push_back(ToBytes("new contents of file " + std::to_string(i) + std::string(40, 'o')));
            run_.Append(u"C:\\run\\f" + std::u16string(1, u'0' + i), olds_.back(), news_.back());
        }
        recordStarts_ = RecordStarts(run_.bytes);
    }

    // Reads a damaged copy: whatever it yields, every file it offers
    // rebuilds to exactly its old bytes or not at all.
    std::optional<JournalReader> ReadCopy(const Bytes& copy) {
        source_ = std::make_unique<MemorySource>(copy.data(), copy.size());
        auto reader = JournalReader::Open(*source_);
        if (!reader) return reader;
        EXPECT_LE(reader->Files().size(), 3u);
        for (size_t i = 0; i < reader->Files().size(); ++i) {
            const Bytes& now = news_[i];
            MemorySource current(now.data(), now.size());
            VectorSink sink;
            if (reader->Rebuild(reader->Files()[i], current, sink) == UndoStep::Ok) {
                EXPECT_EQ(sink.bytes, olds_[i]);
            }
        }
        return reader;
    }

    RunFixture run_;
    std::vector<Bytes> olds_, news_;
    std::vector<size_t> recordStarts_;
    std::unique_ptr<MemorySource> source_;
};

TEST_F(DamagedJournal, CutAtEveryOffsetEndsCleanAtRecordsAndTornBetween) {
    const Bytes& whole = run_.bytes;
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        SCOPED_TRACE(cut);
        const Bytes copy(whole.begin(), whole.begin() + cut);
        const auto reader = ReadCopy(copy);
        if (cut < recordStarts_[0]) {
            EXPECT_FALSE(reader);  // the header itself is cut
            continue;
        }
        ASSERT_TRUE(reader);
        const size_t whole_records = std::upper_bound(recordStarts_.begin(), recordStarts_.end(), cut) -
                                     recordStarts_.begin() - 1;
        const bool atBoundary = std::find(recordStarts_.begin(), recordStarts_.end(), cut) != recordStarts_.end();
        EXPECT_EQ(reader->End(), atBoundary ? JournalEnd::Clean : JournalEnd::TornTail);
        // Two records (file and chunk) per file here.
        EXPECT_EQ(reader->Files().size(), (whole_records + 1) / 2);
    }
}

TEST_F(DamagedJournal, AFlippedByteStopsTheReadingAtItsRecord) {
    const Bytes& whole = run_.bytes;
    size_t damaged = 0;
    for (size_t at = 0; at < whole.size(); ++at) {
        SCOPED_TRACE(at);
        Bytes copy = whole;
        copy[at] ^= 0x10;
        const auto reader = ReadCopy(copy);
        if (at < recordStarts_[0]) {
            EXPECT_FALSE(reader);
            continue;
        }
        ASSERT_TRUE(reader);
        const size_t record = std::upper_bound(recordStarts_.begin(), recordStarts_.end(), at) -
                              recordStarts_.begin() - 1;
        const bool last = record + 2 == recordStarts_.size();
        // Intact records after the damaged one tell it from a torn end.
        EXPECT_EQ(reader->End(), last ? JournalEnd::TornTail : JournalEnd::Damaged);
        EXPECT_EQ(reader->Files().size(), (record + 1) / 2);
        damaged += reader->End() == JournalEnd::Damaged;
    }
    EXPECT_GT(damaged, 0u);
}

TEST_F(DamagedJournal, ALengthPastTheEndIsATornTailOnlyAtTheEnd) {
    const auto withLength = [&](size_t record, uint32_t length) {
        Bytes copy = run_.bytes;
        for (int i = 0; i < 4; ++i) copy[recordStarts_[record] + i] = static_cast<uint8_t>(length >> (8 * i));
        return copy;
    };
    const size_t lastRecord = recordStarts_.size() - 2;
    const Bytes middle = withLength(2, 0xfffffff0), end = withLength(lastRecord, 0x7fff);
    EXPECT_EQ(ReadCopy(middle)->End(), JournalEnd::Damaged);
    EXPECT_EQ(ReadCopy(end)->End(), JournalEnd::TornTail);
    // Zeros after the last record, as a crash can leave them.
    Bytes zeros = run_.bytes;
    zeros.resize(zeros.size() + 4096);
    const auto reader = ReadCopy(zeros);
    EXPECT_EQ(reader->End(), JournalEnd::TornTail);
    EXPECT_EQ(reader->Files().size(), 3u);
}

TEST_F(DamagedJournal, AnIntactRecordOutOfPlaceIsDamage) {
    // A chunk record with no file before it, sealed as the writer would.
    Bytes copy(run_.bytes.begin(), run_.bytes.begin() + recordStarts_[0]);
    std::vector<uint8_t> chunk = NewRecord(RecordType::Chunk);
    chunk.push_back(0);
    SealRecord(chunk, run_.salt, 0);
    copy.insert(copy.end(), chunk.begin(), chunk.end());
    const auto reader = ReadCopy(copy);
    EXPECT_EQ(reader->End(), JournalEnd::Damaged);
    EXPECT_TRUE(reader->Files().empty());
}

// The delta's bytes damaged in a way the record's CRC cannot see (the
// record sealed again after the change): the rebuild must still never
// hand out wrong bytes as the old ones.
TEST(DamagedDelta, NeverYieldsBytesThatPassTheHash) {
    const Bytes old = JpegLike(3000, "an old comment of some length");
    const Bytes now = JpegLike(3000, "a new one");
    RunFixture run;
    run.Append(u"C:\\run\\a.jpg", old, now);
    const std::vector<size_t> starts = RecordStarts(run.bytes);
    ASSERT_EQ(starts.size(), 3u);  // file record, chunk record, end
    size_t refused = 0;
    for (size_t at = starts[0] + kRecordHeaderSize; at < starts[2]; ++at) {
        if (at >= starts[1] && at < starts[1] + kRecordHeaderSize) continue;
        for (uint8_t flip : {0x01, 0x80}) {
            Bytes copy = run.bytes;
            copy[at] ^= flip;
            ResealAll(copy, run.salt);
            MemorySource journal(copy.data(), copy.size());
            const auto reader = JournalReader::Open(journal);
            if (!reader || reader->Files().empty()) continue;  // the file record no longer parses
            MemorySource current(now.data(), now.size());
            VectorSink sink;
            const UndoStep step = reader->Rebuild(reader->Files()[0], current, sink);
            if (step == UndoStep::Ok)
                EXPECT_EQ(sink.bytes, old) << "at " << at;
            else
                ++refused;
        }
    }
    EXPECT_GT(refused, 100u);
}

TEST(JournalWriter, AFailedWriteOrFlushIsReportedAndEndsTheJournal) {
    for (const bool failFlush : {false, true}) {
        RecordingOutput out;
        JournalWriter writer(out, 7, RunInfo{});
        ASSERT_TRUE(writer.Begin());
        MemorySource now(reinterpret_cast<const uint8_t*>("new"), 3);
        ASSERT_TRUE(writer.AppendFile({u"C:\\a"}, reinterpret_cast<const uint8_t*>("old"), 3, now));
        const size_t good = out.bytes.size();
        (failFlush ? out.failFlush : out.failWrite) = true;
        EXPECT_FALSE(writer.AppendFile({u"C:\\b"}, reinterpret_cast<const uint8_t*>("old"), 3, now));
        out.failFlush = out.failWrite = false;
        EXPECT_FALSE(writer.AppendFile({u"C:\\c"}, reinterpret_cast<const uint8_t*>("old"), 3, now));
        // What was durable before the failure still reads.
        const Bytes before(out.bytes.begin(), out.bytes.begin() + good);
        MemorySource journal(before.data(), before.size());
        EXPECT_EQ(JournalReader::Open(journal)->Files().size(), 1u);
    }
    RecordingOutput out;
    out.failFlush = true;
    EXPECT_FALSE(JournalWriter(out, 7, RunInfo{}).Begin());
}

}  // namespace
}  // namespace kes::journal
