// The benchmark's own tools must not lie: a floor that skipped files or
// left temporary files behind, or a timed run that ended early or counted
// a run that found nothing, would make every ratio wrong.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "Floor.h"
#include "KesDriver.h"
#include "TestSupport.h"
#include "kes_bat_ids.h"

using namespace kes_test;
using namespace kes_bench;

namespace {

FILETIME WriteTime(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
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
    for (int i = 0; i < 300; ++i) top.MakeFile("files\\" + std::to_string(i % 3) + "\\" + std::to_string(i) + ".dat");
    top.MakeDir("empty");
    const std::string toolDir = top.MakeDir("tool");
    TKesDriver tool(toolDir + "\\", {});
    ASSERT_TRUE(CopyFileA((ExeDir() + "..\\bench\\kes_null.cpi").c_str(), (toolDir + "\\kes_null.cpi").c_str(),
                          FALSE));
    ASSERT_TRUE(tool.Start());
    tool.SetText(IDC_EDIT_DIR, top / "files");
    tool.SetChecked(IDC_CHECKBOX_SUBDIR, true);

    TRunTiming timing;
    ASSERT_TRUE(tool.TimedRun(timing, 60000));
    EXPECT_EQ(timing.Files, 300u);
    EXPECT_GT(timing.CollectMs, 0);
    EXPECT_LE(timing.CollectMs, timing.TotalMs);
    // It returned only once the run had ended.
    EXPECT_TRUE(tool.IsEnabled(IDC_BUTTON_START));
    EXPECT_EQ(tool.Text(IDC_LABEL_COUNT), "300 / 300");
    EXPECT_EQ(tool.LogLines().size(), 2u);

    tool.SetText(IDC_EDIT_DIR, top / "empty");
    EXPECT_FALSE(tool.TimedRun(timing, 60000));
    EXPECT_EQ(timing.Files, 0u);
}
