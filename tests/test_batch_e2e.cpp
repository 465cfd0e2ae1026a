// Whole runs of the real kes_bat.exe, driven through its window: what the
// user sees in the log, the counter and the boxes, and what the plug-in got.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <thread>

#include "KesDriver.h"
#include "TestSupport.h"
#include "kes_bat_ids.h"

using namespace kes_test;
using Lines = std::vector<std::string>;

namespace {

const std::string kSearching = "処理するファイルの検索中です。(ESCで中止)";
const std::string kCancelled = "ファイルの検索をキャンセルしました。";
const std::string kNoFiles = "処理対象となるファイルはありませんでした。";
const std::string kCount = "個のファイルを処理します。(ESCで中止)";
const std::string kStopped = "処理を中止しました。";
const std::string kCompleted = "コメントの書き込みが完了しました。";
const std::string kErrors = "個のファイルでエラーが起きました。確認して下さい。";
const std::string kDirMissing = "指定されたディレクトリは存在しません。\n指定し直して下さい。";
const std::string kPluginLoadFailed = "プラグインの読み込みに失敗しました。";

// A run started with a posted click has ended when its closing line is in
// the log and Start is back. (A sent click returns only when the run has
// ended, but cannot be used when a box may wait for an answer.)
bool WaitRunEnd(const TKesDriver& tool, DWORD timeoutMs = 60000) {
    return WaitFor(
        [&] {
            const Lines log = tool.LogLines();
            if (log.empty() || !tool.IsEnabled(IDC_BUTTON_START)) return false;
            for (const std::string& end : {kCancelled, kNoFiles, kStopped, kCompleted})
                if (log.back() == end) return true;
            return log.back().find(kErrors) != std::string::npos;
        },
        timeoutMs);
}

const std::string kTinyGif("GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff"
                           "\x2c\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00\x3b",
                           35);

}  // namespace

TEST(BatchRunE2E, ACompletedRunShowsCountsFailuresAndAFullBar) {
    TempDir dir, target;
    ProbeLog probe;
    TKesDriver tool(dir.Path(), {{"probe", "probe.cpi"}});
    target.MakeFile("a.txt", "alpha");
    target.MakeFile("b.txt", "FAIL beta");
    target.MakeFile("sub\\c.txt", "FAIL gamma");
    target.MakeFile("sub\\d.txt", "");
    target.MakeFile("other.dat", "not matched");
    ASSERT_TRUE(tool.Start());
    const std::string comment = "コメント\r\n二行目";
    tool.SetText(IDC_MEMO_COMMENT, comment);
    tool.SetText(IDC_EDIT_DIR, target.Path());
    tool.SetChecked(IDC_CHECKBOX_SUBDIR, true);
    probe.Clear();
    tool.Click(IDC_BUTTON_START);  // returns when the run has ended

    const auto writes = probe.Writes();
    ASSERT_EQ(writes.size(), 4u);
    Lines expected = {"4" + kCount};
    for (const auto& w : writes) {
        EXPECT_EQ(w.Window, std::to_string(reinterpret_cast<UINT_PTR>(tool.Window())));
        EXPECT_EQ(w.CommentHex, Hex(comment));
        for (const std::string& failing : {target / "b.txt", target / "sub\\c.txt"})
            if (w.PathHex == Hex(failing)) expected.push_back("Error : " + failing);
    }
    expected.push_back(kCompleted);
    expected.push_back("2" + kErrors);
    EXPECT_EQ(tool.LogLines(), expected);
    EXPECT_EQ(tool.Text(IDC_LABEL_COUNT), "4 / 4");
    HWND bar = tool.Control(IDC_PROGRESSBAR_COUNT);
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 4);
    EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, FALSE, 0), 4);
    EXPECT_TRUE(WaitFor([&] { return probe.Lines().back() == "probe.cpi unload"; }));

    // Nothing matches: the counter stays at nought.
    TempDir none;
    none.MakeFile("x.dat");
    tool.SetText(IDC_EDIT_DIR, none.Path());
    tool.SetText(IDC_MEMO_COMMENT, "");
    tool.Click(IDC_BUTTON_START);  // returns when the run has ended
    EXPECT_EQ(tool.LogLines(), (Lines{kSearching, kNoFiles}));
    EXPECT_EQ(tool.Text(IDC_LABEL_COUNT), "0 / 0");

    // An empty comment reaches the plug-in as an empty text.
    probe.Clear();
    tool.SetText(IDC_EDIT_DIR, target.Path() + "sub");
    tool.Click(IDC_BUTTON_START);  // returns when the run has ended
    const auto emptyWrites = probe.Writes();
    ASSERT_EQ(emptyWrites.size(), 2u);
    for (const auto& w : emptyWrites) {
        EXPECT_EQ(w.CommentHex, "");
        EXPECT_EQ(w.Length, "0");
    }
    EXPECT_EQ(tool.LogLines(), (Lines{"2" + kCount, "Error : " + target / "sub\\c.txt", kCompleted,
                                      "1" + kErrors}));

    tool.PostMenu(IDM_EXIT);
    EXPECT_EQ(tool.WaitExit(), 0u);
}

TEST(BatchRunE2E, AMissingFolderOrAPluginThatCannotWriteIsRefusedUpFront) {
    TempDir dir, target;
    ProbeLog probe;
    TKesDriver tool(dir.Path(), {{"probe", "probe.cpi"}, {"no_write", "no_write.cpi"}});
    const std::string file = target.MakeFile("a.txt", "alpha");
    ASSERT_TRUE(tool.Start());
    const std::vector<std::string> items = tool.ComboItems();
    const int probeIndex = items[0] == "probe (*.txt)" ? 0 : 1;
    tool.ChooseCombo(probeIndex);
    tool.SetText(IDC_EDIT_DIR, target.Path());
    tool.Click(IDC_BUTTON_START);  // returns when the run has ended
    const Lines log = tool.LogLines();
    ASSERT_EQ(log.size(), 2u);

    probe.Clear();
    for (const std::string& bad : {std::string(), target / "missing", file}) {
        tool.SetText(IDC_EDIT_DIR, bad);
        tool.PostClick(IDC_BUTTON_START);
        const TBox box = tool.ExpectBox();
        EXPECT_EQ(box.Text, kDirMissing) << bad;
        EXPECT_EQ(box.Caption, "警告");
        EXPECT_EQ(box.Icon, static_cast<UINT>(MB_ICONEXCLAMATION));
        EXPECT_EQ(tool.LogLines(), log);
        EXPECT_EQ(tool.Text(IDC_LABEL_COUNT), "1 / 1");
    }
    EXPECT_TRUE(probe.Lines().empty()) << "no plug-in is loaded for a bad folder";

    tool.ChooseCombo(1 - probeIndex);
    tool.SetText(IDC_EDIT_DIR, target.Path());
    tool.PostClick(IDC_BUTTON_START);
    const TBox box = tool.ExpectBox();
    EXPECT_EQ(box.Text, kPluginLoadFailed);
    EXPECT_EQ(box.Caption, "警告");
    EXPECT_EQ(tool.LogLines(), log);
    EXPECT_TRUE(tool.IsEnabled(IDC_BUTTON_START));
    tool.PostMenu(IDM_EXIT);
    EXPECT_EQ(tool.WaitExit(), 0u);
}

TEST(BatchRunE2E, EscapeHeldFromTheStartCancelsTheSearch) {
    TempDir dir, target;
    ProbeLog probe;
    TKesDriver tool(dir.Path(), {{"probe", "probe.cpi"}});
    target.MakeFile("a.txt", "alpha");
    ASSERT_TRUE(tool.Start());
    tool.SetText(IDC_EDIT_DIR, target.Path());
    probe.Clear();
    // Held down as a keyboard holds a key: it repeats.
    std::atomic<bool> holding{true};
    std::thread hold([&] {
        while (holding) {
            keybd_event(VK_ESCAPE, 0, 0, 0);
            Sleep(20);
        }
        keybd_event(VK_ESCAPE, 0, KEYEVENTF_KEYUP, 0);
    });
    ASSERT_TRUE(WaitFor([] { return (GetAsyncKeyState(VK_ESCAPE) & 0x8000) != 0; }, 5000));
    tool.PostClick(IDC_BUTTON_START);
    const bool ended = WaitRunEnd(tool);
    holding = false;
    hold.join();
    ASSERT_TRUE(ended);
    EXPECT_EQ(tool.LogLines(), (Lines{kSearching, kCancelled}));
    EXPECT_TRUE(probe.Writes().empty());
    // The key also reached the comment field, which had the focus: the
    // window stays open.
    Sleep(200);
    EXPECT_TRUE(IsWindow(tool.Window()));
    tool.PostMenu(IDM_EXIT);
    EXPECT_EQ(tool.WaitExit(), 0u);
}

TEST(BatchRunE2E, ClosingDuringARunEndsItCleanlyWithEveryFileWhole) {
    TempDir dir, target;
    TKesDriver tool(dir.Path(), {});
    ASSERT_TRUE(CopyFileA((ToolDir() + "kes_gif.cpi").c_str(), (dir / "kes_gif.cpi").c_str(), FALSE));
    const int files = 1500;
    for (int i = 0; i < files; ++i) target.MakeFile(std::to_string(i) + ".gif", kTinyGif);
    ASSERT_TRUE(tool.Start());
    tool.SetText(IDC_MEMO_COMMENT, "closing");
    tool.SetText(IDC_EDIT_DIR, target.Path());
    tool.PostClick(IDC_BUTTON_START);

    // While it runs, the plug-in's own dialogs cannot be reached.
    ASSERT_TRUE(WaitFor([&] { return !tool.IsEnabled(IDC_BUTTON_START); }));
    // Some files in: the counter reads "n / 1500".
    ASSERT_TRUE(WaitFor([&] { return atoi(tool.Text(IDC_LABEL_COUNT).c_str()) >= 10; }));
    EXPECT_FALSE(tool.IsEnabled(IDC_BUTTON_ABOUT));
    EXPECT_FALSE(tool.IsEnabled(IDC_BUTTON_SETTING));
    tool.PostClose();
    EXPECT_EQ(tool.WaitExit(60000), 0u);

    // Each file is either as it was or carries the comment, and is whole.
    int written = 0;
    for (int i = 0; i < files; ++i) {
        const std::string bytes = ReadFileBytes(target / (std::to_string(i) + ".gif"));
        if (bytes == kTinyGif) continue;
        ++written;
        EXPECT_EQ(bytes.substr(0, 6), "GIF89a") << i;
        EXPECT_NE(bytes.find("closing"), std::string::npos) << i;
        EXPECT_EQ(bytes.back(), '\x3b') << i;
    }
    EXPECT_GT(written, 0);
    EXPECT_LT(written, files) << "the run should have ended early";
}
