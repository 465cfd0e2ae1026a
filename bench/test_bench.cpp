// The benchmark's own tools must not lie: a floor that skipped files or
// left temporary files behind, or a timed run, preview or undo that ended
// early or counted one that found nothing, would make every ratio wrong.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Floor.h"
#include "KesDriver.h"
#include "TestSupport.h"
#include "kes_bat_ids.h"
#include "kes_bat_msg.h"

using namespace kes_test;
using namespace kes_bench;

namespace {

FILETIME WriteTime(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

void MakeWideFile(const std::wstring& path, const std::string& bytes) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
}

// kes_bat.exe in a folder of `top` with `plugin` (a path) beside it, set
// for a run over `files` and its subfolders; null when it did not start.
std::unique_ptr<TKesDriver> StartTool(const TempDir& top, const std::string& plugin, const std::string& files) {
    const std::string toolDir = top.MakeDir("tool") + "\\";
    auto tool = std::make_unique<TKesDriver>(toolDir, std::vector<std::pair<std::string, std::string>>{});
    const std::string name = plugin.substr(plugin.find_last_of('\\') + 1);
    if (!CopyFileA(plugin.c_str(), (toolDir + name).c_str(), FALSE) || !tool->Start()) return nullptr;
    tool->SetText(IDC_EDIT_DIR, files);
    tool->SetChecked(IDC_CHECKBOX_SUBDIR, true);
    return tool;
}

std::string BenchPlugin(const std::string& name) { return ExeDir() + "..\\bench\\" + name; }

// The tool with a benchmark plug-in, set for 300 files in three folders of
// `top`, beside an empty folder.
std::unique_ptr<TKesDriver> StartOnTree(const TempDir& top, const std::string& plugin) {
    for (int i = 0; i < 300; ++i) top.MakeFile("files\\" + std::to_string(i % 3) + "\\" + std::to_string(i) + ".dat");
    top.MakeDir("empty");
    return StartTool(top, BenchPlugin(plugin), top / "files");
}

}  // namespace

TEST(Floor, ReadsEveryMatchingFileInEveryFolderWhateverTheCase) {
    TempDir top;
    top.MakeFile("a.dat", "12345");
    top.MakeFile("B.DAT", "67");
    top.MakeFile("c.txt", "not this one");
    top.MakeFile("sub\\d.dat", "8");
    top.MakeFile("sub\\deeper\\e.dat", "9");
    const TFloorCount count = RunFloor(top.Path(), "*.dat", TFloorJob::Read);
    EXPECT_EQ(count.Files, 4);
    EXPECT_EQ(count.Failed, 0);
    EXPECT_EQ(count.Bytes, 9);
    // Each path as the tool would queue it, with its NUL.
    const long long folder = static_cast<long long>(top.Path().size());
    EXPECT_EQ(count.PathBytes, (folder + 6) + (folder + 6) + (folder + 10) + (folder + 17));
}

TEST(Floor, ReadsNamesTheCodePageLacksThroughTheWideCalls) {
    TempDir top;
    const std::wstring folder = WidePath(top.MakeDir("sub")) + L"\\\u00e9\u2661\ud55c";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    MakeWideFile(folder + L"\\\u301c\U0001d11e.dat", "12345");
    MakeWideFile(WidePath(top.Path()) + L"\u00e9.dat", "67");
    top.MakeFile("plain.dat", "8");
    const TFloorCount wide = RunFloor(top.Path(), "*.dat", TFloorJob::ReadWide);
    EXPECT_EQ(wide.Files, 3);
    EXPECT_EQ(wide.Failed, 0);
    EXPECT_EQ(wide.Bytes, 8);
    // Through the code page calls the same names come out changed, and
    // their files cannot be opened.
    EXPECT_NE(RunFloor(top.Path(), "*.dat", TFloorJob::Read).Failed, 0);
}

TEST(Floor, ARewriteKeepsContentsAndTimeAndLeavesNoTemporaryFile) {
    for (TFloorJob job : {TFloorJob::Rewrite, TFloorJob::RewriteNoFlush}) {
        TempDir top;
        const std::string file = top.MakeFile("x.dat", "contents");
        top.MakeFile("y.dat", "");
        const FILETIME old{0x12345678, 0x01d00000};
        {
            HANDLE h = CreateFileA(file.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(h, INVALID_HANDLE_VALUE);
            ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &old));
            CloseHandle(h);
        }
        const TFloorCount count = RunFloor(top.Path(), "*.dat", job);
        EXPECT_EQ(count.Files, 2);
        EXPECT_EQ(count.Failed, 0);
        EXPECT_EQ(ReadFileBytes(file), "contents");
        const FILETIME kept = WriteTime(file);
        EXPECT_EQ(CompareFileTime(&old, &kept), 0);
        EXPECT_EQ(kes_test::FolderEntries(top.Path()).size(), 2u);
    }
}

TEST(TimedRun, TimesAWholeRunAndRefusesARunThatFoundNothing) {
    TempDir top;
    const std::unique_ptr<TKesDriver> tool = StartOnTree(top, "kes_null.cpi");
    ASSERT_TRUE(tool);

    TRunTiming timing;
    ASSERT_TRUE(tool->TimedRun(timing, 60000));
    EXPECT_EQ(timing.Files, 300u);
    EXPECT_GT(timing.CollectMs, 0);
    EXPECT_LE(timing.CollectMs, timing.TotalMs);
    // It returned only once the run had ended.
    EXPECT_TRUE(tool->IsEnabled(IDC_BUTTON_START));
    EXPECT_EQ(tool->Text(IDC_LABEL_COUNT), "300 / 300");
    EXPECT_EQ(tool->LogLines().size(), 2u);

    tool->SetText(IDC_EDIT_DIR, top / "empty");
    EXPECT_FALSE(tool->TimedRun(timing, 60000));
    EXPECT_EQ(timing.Files, 0u);
}

TEST(TimedRun, TimesAPreviewUntilItHasReadEveryFileEachTime) {
    TempDir top;
    const std::unique_ptr<TKesDriver> tool = StartOnTree(top, "kes_null_w.cpi");
    ASSERT_TRUE(tool);

    // The second time, the window still shows the first one's count until
    // the preview starts again.
    for (int round = 0; round < 2; ++round) {
        TRunTiming timing;
        ASSERT_TRUE(tool->TimedPreview(timing, 60000));
        EXPECT_EQ(timing.Files, 300u);
        EXPECT_LE(timing.CollectMs, timing.TotalMs);
        EXPECT_TRUE(tool->IsEnabled(IDC_BUTTON_START));
        EXPECT_EQ(tool->PreviewText(IDC_PREVIEW_COUNT), L"300 / 300");
    }
    tool->SetText(IDC_EDIT_DIR, top / "empty");
    TRunTiming timing;
    EXPECT_FALSE(tool->TimedPreview(timing, 60000));
}

TEST(TimedRun, TimesTheUndoOfTheRunItNamesAndOfNoOther) {
    TempDir top;
    std::vector<std::string> files;
    for (int i = 0; i < 30; ++i)
        files.push_back(top.MakeFile("files\\" + std::to_string(i % 3) + "\\" + std::to_string(i) + ".txt", "before"));
    const std::unique_ptr<TKesDriver> tool = StartTool(top, TestPlugin("probe_rw"), top / "files");
    ASSERT_TRUE(tool);
    tool->SetText(IDC_MEMO_COMMENT, "written");
    TRunTiming run;
    ASSERT_TRUE(tool->TimedRun(run, 60000));
    ASSERT_EQ(tool->LogLines().size(), 2u);
    const std::string written = ReadFileBytes(files[0]);
    ASSERT_NE(written, "before");

    char undone[256] = "";
    ASSERT_NE(LoadStringA(GetModuleHandleA(nullptr), IDS_UNDO_COMPLETED, undone, sizeof undone), 0);
    // A question about another folder is answered No.
    TRunTiming undo;
    EXPECT_FALSE(tool->TimedUndo(undo, top / "elsewhere", undone, 60000));
    EXPECT_EQ(ReadFileBytes(files[0]), written);

    ASSERT_TRUE(tool->TimedUndo(undo, top / "files", undone, 60000));
    EXPECT_EQ(undo.Files, 30u);
    EXPECT_GT(undo.CollectMs, 0);
    EXPECT_LT(undo.CollectMs, undo.TotalMs);
    // It returned only once the undo had ended.
    EXPECT_EQ(tool->LogLines().back(), undone);
    for (const std::string& file : files) EXPECT_EQ(ReadFileBytes(file), "before") << file;
}
