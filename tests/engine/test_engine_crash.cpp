// The tool ended by force (as Task Manager or a power cut would end it) at
// each step of its commit of a group of files, in a run or in the undo of
// one, and its next start. The
// engine runs with no window in a child process of this program, which
// ends itself at the chosen step; this one then recovers as the tool does
// at start and undoes the run, both without a window too.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <optional>
#include <string>

#include "Engine.h"
#include "Handles.h"
#include "JournalStore.h"
#include "Kes_bat_data.h"
#include "Step.h"
#include "TestSupport.h"

using namespace kes::journal;
using namespace kes_test;

namespace {

// What the parent tells the child.
constexpr wchar_t kFolder[] = L"KES_CRASH_FOLDER", kJournals[] = L"KES_CRASH_JOURNALS",
                  kPlugin[] = L"KES_CRASH_PLUGIN", kStep[] = L"KES_CRASH_STEP", kAt[] = L"KES_CRASH_AT",
                  kInUndo[] = L"KES_CRASH_IN_UNDO";
// The child's exit code when it ended itself where it was told.
constexpr UINT kEnded = 9;
const std::wstring kComment = L"written before the crash";

// The steps a child can end at, by name: the commit's, in TCommitStep's
// order, and a file's end in a run of a plug-in that writes its files
// itself.
const char* const kCommitSteps[] = {"Recorded", "Created", "Durable", "Replaced", "Settled", "Done"};

std::wstring Variable(const wchar_t* name) {
    wchar_t value[MAX_PATH] = L"";
    GetEnvironmentVariableW(name, value, MAX_PATH);
    return value;
}

// No keyboard, no messages, and a clock that stands still: a group ends at
// its count of files, never at its time, so that each step falls on the
// same file in every run.
class TQuietEnvironment : public TRunEnvironment {
public:
    explicit TQuietEnvironment(std::wstring journals) : journals_(std::move(journals)) {}
    bool EscapePressed() override { return false; }
    void ProcessMessages() override {}
    void Beep(UINT) override {}
    DWORD TickCount() override { return 0; }
    std::wstring JournalFolder() override { return journals_; }

private:
    std::wstring journals_;
};

// Never stops the work; ends the process at the `at`-th time it reaches
// the step named `end`, if it is given one.
class TEndingReport : public TEngineReport {
public:
    TEndingReport(std::string end = std::string(), int at = 0) : end_(std::move(end)), at_(at) {}
    void Failed(const TFilePath& path, int result) override {
        failures += Narrow(path.Text()) + " " + std::to_string(result) + "\n";
    }
    void Advanced(bool) override { Reached("Advanced"); }
    bool StopRequested() override { return false; }
    bool Closing() override { return false; }
    void Step(TCommitStep step) override { Reached(kCommitSteps[static_cast<int>(step)]); }
    std::string failures;

private:
    void Reached(const std::string& step) {
        if (step == end_ && ++count_ == at_) TerminateProcess(GetCurrentProcess(), kEnded);
    }
    std::string end_;
    int at_, count_ = 0;
};

// The files of a run: ten in the folder, thirty in each of two below it,
// 70 in all, so that a run takes a group of 64 and one of 6.
std::string FileName(int i) {
    const std::string folder = i < 10 ? "" : i < 40 ? "a\\" : "b\\";
    return folder + "f" + std::to_string(i) + ".txt";
}
constexpr int kFiles = 70;

// Runs the child below and waits for its end; its exit code.
DWORD RunChild() {
    CFileHandle process(StartChildTest(L"EngineCrashChild.DISABLED_RunsUntilItEndsItself"));
    if (!process.IsOpen()) return 0;
    DWORD code = 0;
    if (WaitForSingleObject(process.Get(), 120000) != WAIT_OBJECT_0) TerminateProcess(process.Get(), 1);
    GetExitCodeProcess(process.Get(), &code);
    return code;
}

// Takes back the newest run of the journal folder; how the undo ended.
TUndoEnd UndoNewest(const std::wstring& journals, TEngineReport& report, std::string& left) {
    const JournalStore store(journals);
    const std::optional<RunFile> run = store.NewestNotUndone();
    std::unique_ptr<FileSource> source = run ? FileSource::Open(run->path) : nullptr;
    const std::optional<JournalReader> journal = source ? JournalReader::Open(*source) : std::nullopt;
    if (!journal) {
        left = "no run to undo";
        return TUndoEnd::Stopped;
    }
    return UndoFiles(*journal, store, report, [&](const TFilePath& path, TUndone undone) {
        left += Narrow(path.Text()) + " " + std::to_string(static_cast<int>(undone)) + "\n";
    });
}

}  // namespace

// Run by the test below: the engine's run over the folder, through the
// plug-in named, ended at the step named; or the whole run, and its undo
// ended there.
TEST(EngineCrashChild, DISABLED_RunsUntilItEndsItself) {
    ASSERT_TRUE(KesBat.AddPlugin(AnsiPath(TestPlugin(Narrow(Variable(kPlugin))))));
    ASSERT_TRUE(KesBat.PrepareWrite(0));
    TQuietEnvironment environment(Variable(kJournals));
    const TFilePath folder(Variable(kFolder));
    std::deque<TQueuedPath> files;
    ASSERT_TRUE(CollectFiles(environment, folder, AnsiText(KesBat.GetPatterns(0)), true, false, files));
    ASSERT_EQ(files.size(), static_cast<size_t>(kFiles));
    TEndingReport ending(Narrow(Variable(kStep)), std::stoi(Variable(kAt))), whole;
    const bool inUndo = !Variable(kInUndo).empty();
    TRunCounts counts;
    RunInfo info;
    info.typeDescription = u"crash";
    RunFiles(environment, inUndo ? whole : ending, nullptr, folder, info, [] { return kComment; }, files, counts);
    KesBat.ReleasePlugin();
    std::string left;
    if (inUndo) UndoNewest(environment.JournalFolder(), ending, left);
    // Reached only when the step never came.
}

// After the next start every file holds its old bytes or the whole new
// file, as many of the new as the commit had replaced; nothing of the
// tool's own is left beside them; and the undo gives every file back byte
// for byte with its time.
TEST(EngineCrash, EveryStepOfAGroupEndedByForceIsFinishedOrUndoneAtTheNextStart) {
    struct Case {
        const char* plugin;
        const char* step;
        int at;
        int newFiles;  // whole new after the next start
        bool inUndo = false;
    };
    const Case cases[] = {
        {"plan_rw", "Recorded", 1, 0},   {"plan_rw", "Created", 1, 0},   {"plan_rw", "Created", 33, 0},
        {"plan_rw", "Durable", 1, 0},    {"plan_rw", "Replaced", 1, 1},  {"plan_rw", "Replaced", 33, 33},
        {"plan_rw", "Settled", 1, 1},    {"plan_rw", "Settled", 64, 64}, {"plan_rw", "Done", 1, 64},
        {"plan_rw", "Recorded", 2, 64},  {"plan_rw", "Replaced", 66, 66},
        // A plug-in that writes its files itself, ended after its third.
        {"probe_rw", "Advanced", 3, 3},
        // The undo of a whole run, which puts the newest back first.
        {"plan_rw", "Created", 1, 70, true},  {"plan_rw", "Replaced", 10, 60, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.plugin) + (c.inUndo ? " undo" : " run") + " ended at " + c.step + " #" +
                     std::to_string(c.at));
        TempDir tmp;
        const std::wstring data = AnsiText(tmp / "data\\"), journals = AnsiText(tmp / "journals");
        for (int i = 0; i < kFiles; ++i) tmp.MakeFile("data\\" + FileName(i), Ktf(L"old " + std::to_wstring(i)));
        AgeFiles(data);
        const Snapshot before = TakeSnapshot(data);
        SetEnvironmentVariableW(kFolder, data.c_str());
        SetEnvironmentVariableW(kJournals, journals.c_str());
        SetEnvironmentVariableW(kPlugin, AnsiText(c.plugin).c_str());
        SetEnvironmentVariableW(kStep, AnsiText(c.step).c_str());
        SetEnvironmentVariableW(kAt, std::to_wstring(c.at).c_str());
        SetEnvironmentVariableW(kInUndo, c.inUndo ? L"1" : nullptr);
        ASSERT_EQ(RunChild(), kEnded) << "the child never reached its step";

        RecoverUnfinished(journals);
        const Snapshot recovered = TakeSnapshot(data);
        int newFiles = 0;
        for (const auto& [path, state] : recovered) {
            const auto old = before.find(path);
            if (old == before.end()) {
                ADD_FAILURE() << "left beside the files: " << Narrow(path);
                continue;
            }
            const bool isNew = state.first == Ktf(kComment);
            EXPECT_TRUE(isNew || state == old->second) << Narrow(path);
            newFiles += isNew;
        }
        EXPECT_EQ(recovered.size(), before.size());
        EXPECT_EQ(newFiles, c.newFiles);

        TEndingReport report;
        std::string left;
        EXPECT_EQ(UndoNewest(journals, report, left), TUndoEnd::Done);
        EXPECT_EQ(left, "");
        EXPECT_EQ(report.failures, "");
        for (const std::wstring& changed : Changes(before, TakeSnapshot(data)))
            ADD_FAILURE() << "not given back as it was: " << Narrow(changed);
    }
}
