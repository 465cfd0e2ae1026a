// The journal store on a real disk under Wine: runs written record by
// record, read back and undone byte for byte; a writer killed, a folder
// that cannot be written, a disk that fills; pruning and undone marks.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "JournalStore.h"
#include "JournalTestSupport.h"
#include "PathText.h"
#include "TestSupport.h"

namespace kes::journal {
namespace {

using namespace kes_journal_test;
using kes_test::TempDir;

// The child process of the tests below reads its task from these.
constexpr wchar_t kChildFolder[] = L"KES_JOURNAL_CHILD_FOLDER";
constexpr wchar_t kChildSignal[] = L"KES_JOURNAL_CHILD_SIGNAL";

std::wstring Wide(const std::string& ansi) { return WidePath(ansi); }

// Where a run's journal lies once the run has ended.
std::wstring Ended(std::unique_ptr<RunJournal> journal) {
    EXPECT_TRUE(journal && journal->Close());
    return journal ? journal->Path() : std::wstring();
}

void WriteFileW(const std::wstring& path, const Bytes& bytes) {
    CFileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    ASSERT_TRUE(file.IsOpen());
    ASSERT_TRUE(WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    ASSERT_EQ(written, bytes.size());
}

Bytes ReadFileW(const std::wstring& path) {
    std::unique_ptr<FileSource> source = FileSource::Open(path);
    if (!source) return Bytes();
    Bytes bytes(static_cast<size_t>(source->Size()));
    EXPECT_TRUE(source->Read(0, bytes.data(), bytes.size()));
    return bytes;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

RunInfo Info(uint64_t startTime, const std::wstring& folder = L"C:\\run") {
    return RunInfo{startTime, ToU16(folder), u"テスト形式", u"test.cpi"};
}

// The contents of file `i` of a run, before and after.
Bytes OldOf(int i) { return JpegLike(3000 + 17 * i, "old comment " + std::to_string(i)); }
Bytes NewOf(int i) { return JpegLike(3000 + 17 * i, "the new, longer comment of file " + std::to_string(i)); }

// Journals file `i` as the run would, from memory.
bool AppendFile(RunJournal& journal, int i) {
    const Bytes old = OldOf(i), now = NewOf(i);
    MemorySource source(now.data(), now.size());
    return journal.Append({u"C:\\run\\f" + ToU16(std::to_wstring(i))}, old.data(), old.size(), source);
}

// Every file of the journal that is complete rebuilds to its old bytes; the
// count of them.
size_t CheckRebuilds(const JournalReader& reader) {
    size_t complete = 0;
    for (size_t i = 0; i < reader.Files().size(); ++i) {
        if (!reader.Files()[i].complete) continue;
        ++complete;
        EXPECT_EQ(Undo(reader, reader.Files()[i], NewOf(static_cast<int>(i))), OldOf(static_cast<int>(i))) << i;
    }
    return complete;
}

// Sets an environment variable for this process and its children, as long
// as the object lives.
class ScopedVariable {
public:
    ScopedVariable(const wchar_t* name, const std::wstring& value) : name_(name) {
        SetEnvironmentVariableW(name, value.c_str());
    }
    ~ScopedVariable() { SetEnvironmentVariableW(name_, nullptr); }

private:
    const wchar_t* name_;
};

TEST(JournalStore, ARunOnDiskIsUndoneByteForByteFromAFolderOfAnyName) {
    TempDir tmp;
    const std::wstring folder = Wide(tmp.Path()) + L"写真 ¥ 한국";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    JournalStore store(Wide(tmp / "journal"));
    std::unique_ptr<RunJournal> journal = store.StartRun(Info(1000, folder));
    ASSERT_TRUE(journal);

    std::vector<std::wstring> paths;
    for (int i = 0; i < 3; ++i) {
        paths.push_back(folder + L"\\ファイル" + std::to_wstring(i) + L".jpg");
        WriteFileW(paths[i], OldOf(i));
        const DWORD attributes = GetFileAttributesW(paths[i].c_str());
        const uint64_t oldTime = FileSource::Open(paths[i])->LastWriteTime();
        WriteFileW(paths[i], NewOf(i));  // the plug-in's rewrite
        std::unique_ptr<FileSource> written = FileSource::Open(paths[i]);
        const Bytes old = OldOf(i);
        ASSERT_TRUE(journal->Append({ToU16(paths[i]), oldTime, attributes, written->LastWriteTime()}, old.data(),
                                    old.size(), *written));
    }
    const std::wstring journalPath = Ended(std::move(journal));

    const std::vector<RunFile> runs = store.Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].path, journalPath);
    EXPECT_FALSE(runs[0].undone);
    std::unique_ptr<FileSource> source = FileSource::Open(runs[0].path);
    std::optional<JournalReader> reader = JournalReader::Open(*source);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->End(), JournalEnd::Clean);
    EXPECT_EQ(ToWide(reader->Info().folder), folder);
    ASSERT_EQ(reader->Files().size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        const FileEntry& file = reader->Files()[i];
        EXPECT_TRUE(file.record.relative);
        ASSERT_EQ(ToWide(file.path), paths[i]);
        std::unique_ptr<FileSource> current = FileSource::Open(paths[i]);
        ASSERT_TRUE(current);
        // While the undo holds the file, nobody may write it.
        EXPECT_FALSE(CFileHandle(CreateFileW(paths[i].c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                             nullptr, OPEN_EXISTING, 0, nullptr))
                         .IsOpen());
        ASSERT_EQ(CheckAsLeft(file, *current, current->LastWriteTime()), UndoStep::Ok);
        std::wstring temporaryPath;
        {
            std::unique_ptr<TemporaryFile> temporary = TemporaryFile::CreateBeside(paths[i]);
            ASSERT_TRUE(temporary);
            temporaryPath = temporary->Path();
            EXPECT_EQ(temporaryPath.rfind(folder + L"\\", 0), 0u);
            ASSERT_EQ(reader->Rebuild(file, *current, *temporary), UndoStep::Ok);
            ASSERT_TRUE(temporary->Finish());
            EXPECT_EQ(ReadFileW(temporaryPath), OldOf(static_cast<int>(i)));
        }
        EXPECT_FALSE(Exists(temporaryPath));  // not released: gone with the object
    }
}

// Run as a child process by the test below: journals files until killed,
// and signals once three of them are on disk.
TEST(JournalStoreChild, DISABLED_AppendsUntilKilled) {
    wchar_t folder[MAX_PATH] = L"", signal[MAX_PATH] = L"";
    ASSERT_NE(GetEnvironmentVariableW(kChildFolder, folder, MAX_PATH), 0u);
    ASSERT_NE(GetEnvironmentVariableW(kChildSignal, signal, MAX_PATH), 0u);
    CFileHandle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, signal));
    ASSERT_TRUE(ready.IsOpen());
    std::unique_ptr<RunJournal> journal = JournalStore(folder).StartRun(Info(1));
    ASSERT_TRUE(journal);
    for (int i = 0; i < 100000; ++i) {
        ASSERT_TRUE(AppendFile(*journal, i));
        if (i == 2) SetEvent(ready.Get());
    }
}

TEST(JournalStore, EveryRecordWrittenSurvivesTheWriterBeingKilled) {
    TempDir tmp;
    const std::wstring folder = Wide(tmp / "journal");
    const std::wstring signal = L"kes-journal-child-" + std::to_wstring(GetCurrentProcessId());
    CFileHandle ready(CreateEventW(nullptr, TRUE, FALSE, signal.c_str()));
    ASSERT_TRUE(ready.IsOpen());
    ScopedVariable folderVariable(kChildFolder, folder), signalVariable(kChildSignal, signal);
    CFileHandle process(kes_test::StartChildTest(L"JournalStoreChild.DISABLED_AppendsUntilKilled"));
    ASSERT_TRUE(process.IsOpen());
    const bool signalled = WaitForSingleObject(ready.Get(), 60000) == WAIT_OBJECT_0;
    // Killed wherever it is: between two appends, or in the middle of one.
    TerminateProcess(process.Get(), 9);
    WaitForSingleObject(process.Get(), 60000);
    ASSERT_TRUE(signalled) << "the child never journalled three files";

    const std::vector<RunFile> runs = JournalStore(folder).Runs();
    ASSERT_EQ(runs.size(), 1u);
    std::unique_ptr<FileSource> source = FileSource::Open(runs[0].path);
    std::optional<JournalReader> reader = JournalReader::Open(*source);
    ASSERT_TRUE(reader);
    EXPECT_NE(reader->End(), JournalEnd::Damaged);
    EXPECT_GE(CheckRebuilds(*reader), 3u);
}

// Run by the test below with a limit on the size of any file it writes, as
// a full disk would stop it: journals files until an append fails.
TEST(JournalStoreChild, DISABLED_AppendsUntilTheDiskIsFull) {
    wchar_t folder[MAX_PATH] = L"", result[MAX_PATH] = L"";
    ASSERT_NE(GetEnvironmentVariableW(kChildFolder, folder, MAX_PATH), 0u);
    ASSERT_NE(GetEnvironmentVariableW(kChildSignal, result, MAX_PATH), 0u);
    std::unique_ptr<RunJournal> journal = JournalStore(folder).StartRun(Info(1));
    ASSERT_TRUE(journal);
    int appended = 0;
    while (appended < 1000 && AppendFile(*journal, appended)) ++appended;
    // Once failed, the journal takes nothing more.
    const bool laterFails = !AppendFile(*journal, appended);
    std::ofstream(result) << appended << ' ' << laterFails << '\n';
}

TEST(JournalStore, AFullDiskFailsTheAppendAndKeepsTheRecordsBeforeIt) {
    TempDir tmp;
    const std::wstring folder = Wide(tmp / "journal"), result = Wide(tmp / "result.txt");
    ScopedVariable folderVariable(kChildFolder, folder), resultVariable(kChildSignal, result);
    // No file of the child may grow past 64 blocks of 512 bytes; the signal
    // that a write past it would raise is ignored, so that the write fails.
    std::wstring command = L"/bin/sh -c \"trap '' XFSZ; ulimit -f 64; exec wine '" + kes_test::ExePath() +
                           L"' --gtest_filter=JournalStoreChild.DISABLED_AppendsUntilTheDiskIsFull "
                           L"--gtest_also_run_disabled_tests >/dev/null 2>&1\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    ASSERT_TRUE(CreateProcessW(L"Z:\\bin\\sh", &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &child));
    CFileHandle process(child.hProcess), thread(child.hThread);
    // The handle of a Unix process tells nothing of its end: wait for the
    // child's answer instead.
    int appended = -1, laterFails = -1;
    for (int i = 0; i < 600 && appended < 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::ifstream(result.c_str()) >> appended >> laterFails;
    }
    ASSERT_GT(appended, 0) << "the child gave no answer";
    EXPECT_LT(appended, 1000) << "no append failed";
    EXPECT_EQ(laterFails, 1);

    const std::vector<RunFile> runs = JournalStore(folder).Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_LE(runs[0].size, 64u * 512);
    std::unique_ptr<FileSource> source = FileSource::Open(runs[0].path);
    std::optional<JournalReader> reader = JournalReader::Open(*source);
    ASSERT_TRUE(reader);
    EXPECT_NE(reader->End(), JournalEnd::Damaged);
    EXPECT_EQ(CheckRebuilds(*reader), static_cast<size_t>(appended));
}

TEST(JournalStore, AFolderThatCannotBeMadeStartsNoRun) {
    TempDir tmp;
    tmp.MakeFile("file");
    EXPECT_FALSE(JournalStore(Wide(tmp / "file\\journal")).StartRun(Info(1)));
    EXPECT_FALSE(JournalStore(Wide(tmp / "missing\\journal")).StartRun(Info(1)));
    EXPECT_FALSE(Exists(Wide(tmp / "missing")));
}

// Runs in the order they started, whatever the clock said: one of a clock
// set back (time 7 after 9), and two of one moment.
TEST(JournalStore, RunsAreListedNewestFirstWhateverTheClockSaid) {
    TempDir tmp;
    JournalStore store(Wide(tmp.Path()));
    std::vector<std::wstring> paths;
    for (uint64_t time : {5, 9, 9, 7}) paths.push_back(Ended(store.StartRun(Info(time))));
    tmp.MakeFile("run-0000000000000003.txt");  // not a journal's name
    tmp.MakeFile("notes.kjl");
    tmp.MakeDir("run-0000000000000009.kjl");
    std::vector<RunFile> runs = store.Runs();
    ASSERT_EQ(runs.size(), 4u);
    for (size_t i = 0; i < runs.size(); ++i) EXPECT_EQ(runs[i].path, paths[paths.size() - 1 - i]);
    EXPECT_GT(runs[3].size, 0u);
    // Pruning after a run never takes that run, even where the store keeps
    // one run only and another window started a run since.
    const std::wstring written = Ended(store.StartRun(Info(1)));
    const std::wstring later = Ended(store.StartRun(Info(1)));
    JournalStore(Wide(tmp.Path()), StoreLimits{1, 1}).Prune(written);
    runs = store.Runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].path, later);
    EXPECT_EQ(runs[1].path, written);
}

TEST(JournalStore, MarkingARunUndoneLastsAndTheUndoMovesToTheRunBefore) {
    TempDir tmp;
    const std::wstring folder = Wide(tmp.Path());
    std::unique_ptr<RunJournal> older = JournalStore(folder).StartRun(Info(1));
    std::unique_ptr<RunJournal> newer = JournalStore(folder).StartRun(Info(2));
    older.reset();
    // A run still being written is never marked.
    std::optional<RunFile> newest = JournalStore(folder).NewestNotUndone();
    ASSERT_TRUE(newest);
    EXPECT_EQ(newest->id, 2u);
    EXPECT_FALSE(JournalStore(folder).MarkUndone(*newest));
    newer.reset();
    newest = JournalStore(folder).NewestNotUndone();
    EXPECT_TRUE(JournalStore(folder).MarkUndone(*newest));

    // Another store over the folder, as the next start of the tool sees it.
    const std::vector<RunFile> runs = JournalStore(folder).Runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_TRUE(runs[0].undone);
    EXPECT_FALSE(runs[1].undone);
    EXPECT_EQ(JournalStore(folder).NewestNotUndone()->id, 1u);
    // The undone run's journal still reads.
    std::unique_ptr<FileSource> source = FileSource::Open(runs[0].path);
    ASSERT_TRUE(source);
    EXPECT_TRUE(JournalReader::Open(*source));
    EXPECT_TRUE(JournalStore(folder).MarkUndone(*JournalStore(folder).NewestNotUndone()));
    EXPECT_FALSE(JournalStore(folder).NewestNotUndone());
}

TEST(JournalStore, PruningKeepsTheNewestTenWithinTheSizeCapAndAlwaysTheNewest) {
    TempDir tmp;
    const std::wstring folder = Wide(tmp.Path());
    // The oldest is still being written (by another instance of the tool).
    std::unique_ptr<RunJournal> open = JournalStore(folder).StartRun(Info(1));
    for (uint64_t time = 2; time <= 13; ++time) ASSERT_TRUE(JournalStore(folder).StartRun(Info(time)));
    JournalStore(folder).Prune();
    std::vector<RunFile> runs = JournalStore(folder).Runs();
    ASSERT_EQ(runs.size(), 11u);
    EXPECT_EQ(runs.front().id, 13u);
    EXPECT_EQ(runs[9].id, 4u);
    EXPECT_EQ(runs.back().id, 1u);
    open.reset();
    JournalStore(folder).Prune();
    runs = JournalStore(folder).Runs();
    ASSERT_EQ(runs.size(), 10u);
    EXPECT_EQ(runs.back().id, 4u);

    // Journals of a few hundred bytes each, against a cap of three of them.
    const uint64_t each = runs[0].size;
    JournalStore(folder, StoreLimits{10, 3 * each + each / 2}).Prune();
    runs = JournalStore(folder).Runs();
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs.back().id, 11u);

    // A newest run bigger than the cap by itself still stays.
    std::wstring big;
    {
        std::unique_ptr<RunJournal> journal = JournalStore(folder).StartRun(Info(20));
        for (int i = 0; i < 5; ++i) ASSERT_TRUE(AppendFile(*journal, i));
        big = Ended(std::move(journal));
    }
    JournalStore(folder, StoreLimits{10, each}).Prune();
    runs = JournalStore(folder).Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].path, big);
}

}  // namespace
}  // namespace kes::journal
