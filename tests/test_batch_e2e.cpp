// Whole runs of the real kes_bat.exe, driven through its window: what the
// user sees in the log, the counter and the boxes, and what the plug-in got.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <map>
#include <thread>

#include "KesDriver.h"
#include "TestSupport.h"
#include "Mbox_res.h"
#include "kes_bat_ids.h"
#include "kes_bat_msg.h"
#include "kes_bat_texts.h"

using namespace kes_test;
using Lines = std::vector<std::string>;

namespace {

const std::string kSearching = LoadResString(IDS_LOG_SEARCHING);
const std::string kCancelled = LoadResString(IDS_LOG_SEARCH_CANCELLED);
const std::string kNoFiles = LoadResString(IDS_LOG_NO_FILES);
const std::string kCount = LoadResString(IDS_LOG_FILE_COUNT);
const std::string kStopped = LoadResString(IDS_LOG_STOPPED);
const std::string kCompleted = LoadResString(IDS_LOG_COMPLETED);
const std::string kErrors = LoadResString(IDS_LOG_ERROR_COUNT);
const std::string kWarning = LoadResString(IDS_CAPTION_WARNING);

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
            if (w.PathHex == Hex(failing)) expected.push_back(KES_ERROR_PREFIX + failing + " (プラグインの応答: 7)");
    }
    expected.push_back(kCompleted);
    expected.push_back("2" + kErrors);
    EXPECT_EQ(tool.LogLines(), expected);
    EXPECT_EQ(tool.Text(IDC_LABEL_COUNT), "4 / 4");
    HWND bar = tool.Control(IDC_PROGRESSBAR_COUNT);
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 4);
    EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, FALSE, 0), 4);
    EXPECT_TRUE(WaitFor([&] { return probe.Lines().back() == "probe.cpi unload"; }));

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
        EXPECT_EQ(box.Text, LoadResString(IDS_DIR_MISSING)) << bad;
        EXPECT_EQ(box.Caption, kWarning);
        EXPECT_EQ(box.Icon, static_cast<UINT>(MB_ICONEXCLAMATION));
        EXPECT_EQ(tool.LogLines(), log);
        EXPECT_EQ(tool.Text(IDC_LABEL_COUNT), "1 / 1");
    }
    EXPECT_TRUE(probe.Lines().empty()) << "no plug-in is loaded for a bad folder";

    tool.ChooseCombo(1 - probeIndex);
    tool.SetText(IDC_EDIT_DIR, target.Path());
    tool.PostClick(IDC_BUTTON_START);
    const TBox box = tool.ExpectBox();
    EXPECT_EQ(box.Text, LoadResString(IDS_PLUGIN_LOAD_FAILED));
    EXPECT_EQ(box.Caption, kWarning);
    EXPECT_EQ(tool.LogLines(), log);
    EXPECT_TRUE(tool.IsEnabled(IDC_BUTTON_START));
    tool.PostMenu(IDM_EXIT);
    EXPECT_EQ(tool.WaitExit(), 0u);
}

// A plug-in of the code page would get "?" or a look-alike for "é" and "♡":
// the run does not start, and says why.
TEST(BatchRunE2E, ACommentBeyondTheCodePageStartsNoRunWithAPluginOfTheCodePage) {
    TempDir dir, target;
    ProbeLog probe;
    TKesDriver tool(dir.Path(), {{"probe", "probe.cpi"}, {"probe_w", "probe_w.cpi"}});
    target.MakeFile("a.txt", "alpha");
    ASSERT_TRUE(tool.Start());
    const std::vector<std::string> items = tool.ComboItems();
    const int old = items[0] == "probe (*.txt)" ? 0 : 1;
    tool.ChooseCombo(old);
    tool.SetText(IDC_EDIT_DIR, target.Path());
    // Typed through the program's own message loop, then pasted.
    for (wchar_t c : std::wstring(L"caf\u00e9 ")) PostMessageW(tool.Control(IDC_MEMO_COMMENT), WM_CHAR, c, 1);
    const std::wstring pasted = L"\u2661\r\n\ud55c";
    ASSERT_TRUE(OpenClipboard(nullptr) && EmptyClipboard());
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (pasted.size() + 1) * sizeof(wchar_t));
    wcscpy(static_cast<wchar_t*>(GlobalLock(memory)), pasted.c_str());
    GlobalUnlock(memory);
    SetClipboardData(CF_UNICODETEXT, memory);
    CloseClipboard();
    ASSERT_TRUE(WaitFor([&] { return tool.WideText(IDC_MEMO_COMMENT).size() == 5; }));
    SendMessageW(tool.Control(IDC_MEMO_COMMENT), WM_PASTE, 0, 0);
    const std::wstring comment = L"caf\u00e9 " + pasted;
    EXPECT_EQ(tool.WideText(IDC_MEMO_COMMENT), comment);
    probe.Clear();
    tool.PostClick(IDC_BUTTON_START);
    const TBox box = tool.ExpectBox();
    EXPECT_EQ(box.Text, LoadResString(IDS_COMMENT_NOT_IN_CODE_PAGE));
    EXPECT_EQ(box.Caption, kWarning);
    EXPECT_EQ(box.Icon, static_cast<UINT>(MB_ICONEXCLAMATION));
    EXPECT_TRUE(tool.LogLines().empty());
    EXPECT_TRUE(probe.Lines().empty()) << "the plug-in is not even loaded";

    // The Unicode plug-in takes it as typed.
    tool.ChooseCombo(1 - old);
    tool.Click(IDC_BUTTON_START);
    const auto writes = probe.Writes();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].CommentHex, WideHex(comment));
    EXPECT_EQ(tool.LogLines().back(), kCompleted);
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

// A close asked for while a file is written ends the run at the next file,
// then the program. The gate plug-in holds the run inside its "WAIT" file
// until the close has been posted.
TEST(BatchRunE2E, ClosingDuringARunEndsTheRunAtTheNextFileThenTheProgram) {
    TempDir dir, target;
    ProbeLog probe;
    const std::string gate = "kes_gate_" + std::to_string(GetCurrentProcessId());
    SetEnvironmentVariableA("KES_GATE", gate.c_str());
    HANDLE reached = CreateEventA(nullptr, TRUE, FALSE, (gate + "_reached").c_str());
    HANDLE open = CreateEventA(nullptr, TRUE, FALSE, (gate + "_open").c_str());
    TKesDriver tool(dir.Path(), {{"gate", "gate.cpi"}});
    const std::string held = target.MakeFile("3.txt", "WAIT");
    for (const char* name : {"1.txt", "2.txt", "4.txt", "5.txt"}) target.MakeFile(name, "ok");
    ASSERT_TRUE(tool.Start());
    tool.SetText(IDC_EDIT_DIR, target.Path());
    tool.PostClick(IDC_BUTTON_START);

    ASSERT_EQ(WaitForSingleObject(reached, 30000), WAIT_OBJECT_0);
    // While it runs, the plug-in's own dialogs cannot be reached.
    EXPECT_FALSE(tool.IsEnabled(IDC_BUTTON_START));
    EXPECT_FALSE(tool.IsEnabled(IDC_BUTTON_ABOUT));
    EXPECT_FALSE(tool.IsEnabled(IDC_BUTTON_SETTING));
    tool.PostClose();
    SetEvent(open);
    EXPECT_EQ(tool.WaitExit(30000), 0u);

    // The held file was the last one written, and the plug-in was released
    // before the program ended.
    const auto writes = probe.Writes();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back().PathHex, Hex(held));
    EXPECT_LT(writes.size(), 5u);
    EXPECT_EQ(probe.Lines().back(), "gate.cpi unload");
    CloseHandle(reached);
    CloseHandle(open);
    SetEnvironmentVariableA("KES_GATE", nullptr);
}

namespace {

// CRC-32 of `count` zero bytes, as ZIP records it.
uint32_t ZeroCrc(uint32_t count) {
    uint32_t table[256];
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    uint32_t crc = 0xFFFFFFFFu;
    for (uint32_t i = 0; i < count; ++i) crc = table[crc & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::string Le(uint32_t value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i) & 0xFF);
    return out;
}

// A stored archive of one member of `size` zero bytes. The member's data is
// left a hole of a sparse file, so that making it costs no disk.
void WriteBigArchive(const std::string& path, uint32_t size) {
    const std::string fields = Le(0, 2) + Le(0, 2) + Le(0, 2) + Le(0x21, 2) + Le(ZeroCrc(size), 4) +
                               Le(size, 4) + Le(size, 4) + Le(1, 2) + Le(0, 2);  // flags .. extra length
    const std::string local = "PK\x03\x04" + Le(10, 2) + fields + "z";
    const std::string central = "PK\x01\x02" + Le(10, 2) + Le(10, 2) + fields + Le(0, 2) + Le(0, 2) +
                                Le(0, 2) + Le(0, 4) + Le(0, 4) + "z";
    const std::string end = "PK\x05\x06" + Le(0, 4) + Le(1, 2) + Le(1, 2) + Le(central.size(), 4) +
                            Le(local.size() + size, 4) + Le(0, 2);
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written;
    WriteFile(h, local.data(), static_cast<DWORD>(local.size()), &written, nullptr);
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(local.size()) + size;
    SetFilePointerEx(h, at, nullptr, FILE_BEGIN);
    const std::string tail = central + end;
    WriteFile(h, tail.data(), static_cast<DWORD>(tail.size()), &written, nullptr);
    CloseHandle(h);
}

LONGLONG FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return static_cast<LONGLONG>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

}  // namespace

// The tool once held a big file while the plug-in built two more copies of
// it, and an archive of a few hundred megabytes ran out of memory. Now the
// plug-in writes the unchanged part straight from the tool's buffer.
TEST(BatchRunE2E, AnArchiveOfHundredsOfMegabytesGetsItsComment) {
    TempDir dir, target;
    TKesDriver tool(dir.Path(), {});
    ASSERT_TRUE(CopyFileA((ToolDir() + "kes_zip.cpi").c_str(), (dir / "kes_zip.cpi").c_str(), FALSE));
    const std::string archive = target / "big.zip";
    constexpr uint32_t kMember = 768u << 20;
    WriteBigArchive(archive, kMember);
    const LONGLONG before = FileSize(archive);
    ASSERT_TRUE(tool.Start());
    tool.SetText(IDC_MEMO_COMMENT, "big");
    tool.SetText(IDC_EDIT_DIR, target.Path());
    tool.Click(IDC_BUTTON_START);  // returns when the run has ended
    EXPECT_EQ(tool.LogLines(), (Lines{"1" + kCount, kCompleted}));
    EXPECT_EQ(FileSize(archive), before + 3);
    HANDLE h = CreateFileA(archive.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char head[4] = {}, tail[5] = {};
    DWORD got = 0;
    ReadFile(h, head, sizeof head, &got, nullptr);
    LARGE_INTEGER at;
    at.QuadPart = -5;
    SetFilePointerEx(h, at, nullptr, FILE_END);
    ReadFile(h, tail, sizeof tail, &got, nullptr);
    CloseHandle(h);
    EXPECT_EQ(std::string(head, 4), "PK\x03\x04");
    EXPECT_EQ(std::string(tail, 5), std::string("\x03\x00" "big", 5));
    tool.PostMenu(IDM_EXIT);
    EXPECT_EQ(tool.WaitExit(), 0u);
}

// The tool killed in the middle of a run: every file it wrote before has
// its record on disk, and an undo in the next session puts each back.
TEST(BatchRunE2E, AfterTheToolIsKilledMidRunTheUndoPutsBackEveryFileItWrote) {
    TempDir dir, target;
    const std::string gate = "kes_gate_rw_" + std::to_string(GetCurrentProcessId());
    SetEnvironmentVariableA("KES_GATE", gate.c_str());
    HANDLE reached = CreateEventA(nullptr, TRUE, FALSE, (gate + "_reached").c_str());
    HANDLE open = CreateEventA(nullptr, TRUE, FALSE, (gate + "_open").c_str());
    std::map<std::string, std::string> before;
    for (int i = 0; i < 6; ++i) {
        const std::string name = std::to_string(i) + ".txt";
        // Files as the plug-in keeps them ("KTF1", a UTF-16 comment, "END!");
        // the run stops at the one that starts "WAIT".
        const std::string bytes = i == 3 ? std::string("WAIT") : std::string("KTF1o\0l\0d\0END!", 14);
        before[target.MakeFile(name, bytes)] = bytes;
    }
    {
        TKesDriver tool(dir.Path(), {{"gate_rw", "gate_rw.cpi"}});
        ASSERT_TRUE(tool.Start());
        tool.SetText(IDC_EDIT_DIR, target.Path());
        tool.SetText(IDC_MEMO_COMMENT, std::string("new"));
        tool.PostClick(IDC_BUTTON_START);
        ASSERT_EQ(WaitForSingleObject(reached, 30000), WAIT_OBJECT_0);
        TerminateProcess(tool.Process(), 1);
        WaitForSingleObject(tool.Process(), 30000);
    }
    int written = 0;
    for (const auto& [path, bytes] : before) written += ReadFileBytes(path) != bytes;
    ASSERT_GT(written, 0) << "the run wrote nothing before the gate";

    TKesDriver again(dir.Path());
    ASSERT_TRUE(again.Start());
    again.PostMenu(IDM_UNDO);
    TBox question;
    ASSERT_TRUE(again.WaitBox(question));
    EXPECT_EQ(question.Caption, LoadResString(IDS_CAPTION_CONFIRM));
    EXPECT_NE(question.Text.find("ファイル : " + std::to_string(written) + " 個"), std::string::npos) << question.Text;
    again.AnswerDialog(IDYES);
    ASSERT_TRUE(WaitFor([&] {
        const Lines log = again.LogLines();
        return !log.empty() && log.back() == LoadResString(IDS_UNDO_COMPLETED);
    }, 30000));
    for (const auto& [path, bytes] : before) EXPECT_EQ(ReadFileBytes(path), bytes) << path;
    again.PostMenu(IDM_EXIT);
    EXPECT_EQ(again.WaitExit(), 0u);
    CloseHandle(reached);
    CloseHandle(open);
    SetEnvironmentVariableA("KES_GATE", nullptr);
}
