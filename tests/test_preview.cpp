// The preview inside a real main window of this test program: what it
// shows of every file, and that it writes nothing.
#include "BatchRunFixture.h"

#include <commctrl.h>

#include <algorithm>

#include "Handles.h"
#include "Mbox_res.h"
#include "kes_bat_msg.h"
#include "kes_bat_preview.h"

using namespace kes_test;

namespace {

HWND PreviewWindow() { return FindTopLevelWindow(GetCurrentProcessId(), KES_PREVIEW_CLASS, KesBatForm->Handle); }

std::wstring PreviewText(int id) {
    wchar_t text[1024] = L"";
    GetWindowTextW(GetDlgItem(PreviewWindow(), id), text, 1024);
    return text;
}

using Row = std::vector<std::wstring>;  // path, comment, action

std::vector<Row> PreviewRows() {
    HWND list = GetDlgItem(PreviewWindow(), IDC_PREVIEW_LIST);
    std::vector<Row> rows;
    const int n = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
        Row row;
        for (int column = 0; column < 3; ++column) {
            wchar_t text[1024] = L"";
            LVITEMW item{};
            item.iSubItem = column;
            item.pszText = text;
            item.cchTextMax = 1024;
            SendMessageW(list, LVM_GETITEMTEXTW, i, reinterpret_cast<LPARAM>(&item));
            row.push_back(text);
        }
        rows.push_back(row);
    }
    return rows;
}

std::wstring Refused(int reason) { return WideRes(IDS_PREVIEW_REFUSE) + L" (" + WideRes(reason) + L")"; }

}  // namespace

TEST_F(BatchRun, ThePreviewShowsEveryFilesCommentAndWhatARunWouldDoAndWritesNothing) {
    TempDir top;
    const std::wstring dir = AnsiText(top.Path());
    MakeWideFile(dir + L"a.txt", Ktf(L"\u64ae\u5f71: \u5c71\u7530\r\ncaf\u00e9 \u2661\r\n"));
    MakeWideFile(dir + L"none.txt", Ktf(L""));
    MakeWideFile(dir + L"broken.txt", "not a comment file");
    MakeWideFile(dir + L"locked.txt", Ktf(L"unseen"));
    MakeWideFile(dir + L"cloud.txt", "FAIL if read");
    MakeWideFile(dir + L"sub\u2661\\deep.txt", Ktf(L"deep"));
    AgeFiles(dir);
    const Snapshot before = TakeSnapshot(dir);
    env_.ExtraAttributes = [](const std::wstring& name) { return name == L"cloud.txt" ? 0x400000 : 0; };
    Select("probe_rw");
    SetWindowTextW(Control(IDC_EDIT_DIR), dir.c_str());
    SendMessageA(Control(IDC_CHECKBOX_SUBDIR), BM_SETCHECK, BST_CHECKED, 0);
    KesBatForm->FileList->clear();
    ASSERT_TRUE(KesBatForm->CollectFiles(TFilePath(dir), true));
    std::vector<std::wstring> order;
    for (const TQueuedPath& entry : *KesBatForm->FileList) order.push_back(entry.Path.Text());

    // Another program has the file open and lets nobody read it: the
    // preview names it as the run would.
    env_.Holders = [&](const std::wstring& path) { return path == dir + L"locked.txt" ? L"\u5199\u771f" : L""; };
    CFileHandle locked(CreateFileW((dir + L"locked.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(locked.IsOpen());
    ProbeLog probe;
    SendMessageA(KesBatForm->Handle, WM_COMMAND, IDM_PREVIEW, 0);
    locked.Close();

    ASSERT_NE(PreviewWindow(), nullptr);
    const std::map<std::wstring, std::pair<std::wstring, std::wstring>> expected = {
        {dir + L"a.txt", {L"\u64ae\u5f71: \u5c71\u7530\u00b6caf\u00e9 \u2661\u00b6", WideRes(IDS_PREVIEW_WRITE)}},
        {dir + L"none.txt", {L"", WideRes(IDS_PREVIEW_WRITE)}},
        {dir + L"broken.txt", {L"", Refused(IDS_REASON_REFUSED)}},
        {dir + L"locked.txt", {L"", WideRes(IDS_PREVIEW_REFUSE) + L" (\u5199\u771f \u304c\u4f7f\u3063\u3066\u3044\u307e\u3059)"}},
        {dir + L"cloud.txt", {L"", Refused(IDS_PREVIEW_ONLINE_ONLY)}},
        {dir + L"sub\u2661\\deep.txt", {L"deep", WideRes(IDS_PREVIEW_WRITE)}},
    };
    const std::vector<Row> rows = PreviewRows();
    ASSERT_EQ(rows.size(), expected.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i][0], order[i]) << "in run order";
        const auto it = expected.find(rows[i][0]);
        ASSERT_NE(it, expected.end()) << Narrow(rows[i][0]);
        EXPECT_EQ(rows[i][1], it->second.first) << Narrow(rows[i][0]);
        EXPECT_EQ(rows[i][2], it->second.second) << Narrow(rows[i][0]);
    }
    EXPECT_EQ(Narrow(PreviewText(IDC_PREVIEW_SUMMARY)), "ファイル 6 個のうち、コメントのあるもの 2 個、書き込めないもの 3 個");
    EXPECT_EQ(PreviewText(IDC_PREVIEW_COUNT), L"6 / 6");
    EXPECT_EQ(env_.Beeps, std::vector<UINT>{MB_OK});

    // Read and never written; the cloud file not even read; the plug-in
    // released, the window's run ready again.
    EXPECT_EQ(TakeSnapshot(dir), before);
    int reads = 0;
    for (const std::string& line : probe.Lines()) {
        EXPECT_EQ(line.find("Write"), std::string::npos) << line;
        reads += line.find("ReadCommentW") != std::string::npos;
    }
    EXPECT_EQ(reads, 4);
    EXPECT_EQ(probe.Lines().back(), "probe_rw.cpi unload");
    EXPECT_EQ(GetModuleHandleA("probe_rw.cpi"), nullptr);
    EXPECT_TRUE(IsWindowEnabled(Control(IDC_BUTTON_START)));
    EXPECT_FALSE(MenuGrayed(IDM_PREVIEW));
}

// Without ReadCommentW a plug-in users already own is not even loaded: it
// sees no call it did not see before. Only the run's own refusals are known.
TEST_F(BatchRun, APluginWithoutTheReadExportIsNotLoadedAndNoRowCanTell) {
    TempDir top;
    const std::wstring dir = AnsiText(top.Path());
    MakeWideFile(dir + L"a.txt", "text");
    MakeWideFile(dir + L"caf\u00e9.txt", "text");  // no name for a plug-in of the code page
    SetWindowTextW(Control(IDC_EDIT_DIR), dir.c_str());
    AgeFiles(dir);
    const Snapshot before = TakeSnapshot(dir);
    for (const char* plugin : {"probe", "old_writer"}) {
        Select(plugin);
        ProbeLog probe;
        KesBatForm->Menu_PreviewClick(nullptr);
        EXPECT_TRUE(probe.Lines().empty()) << plugin << ": " << ::testing::PrintToString(probe.Lines());
        std::vector<Row> rows = PreviewRows();
        std::sort(rows.begin(), rows.end());
        EXPECT_EQ(rows, (std::vector<Row>{{dir + L"a.txt", L"", WideRes(IDS_PREVIEW_CANNOT_TELL)},
                                          {dir + L"caf\u00e9.txt", L"", Refused(IDS_REASON_NOT_IN_CODE_PAGE)}}))
            << plugin;
        EXPECT_EQ(Narrow(PreviewText(IDC_PREVIEW_SUMMARY)), "ファイル 2 個のうち、コメントのあるもの ? 個、書き込めないもの ? 個");
    }
    EXPECT_EQ(TakeSnapshot(dir), before);
}

TEST_F(BatchRun, EscapeOrClosingThePreviewStopsItsSearchOrItsReading) {
    TempDir top;
    for (const char* name : {"1.txt", "2.txt", "3.txt", "4.txt"}) top.MakeFile(name, Ktf(L"c"));
    SetText(IDC_EDIT_DIR, top.Path());
    Select("probe_rw");
    const auto readsIn = [](const ProbeLog& probe) {
        int reads = 0;
        for (const std::string& line : probe.Lines()) reads += line.find("ReadCommentW") != std::string::npos;
        return reads;
    };
    const std::wstring stopped = WideRes(IDS_LOG_STOPPED) + L" ";
    {
        ProbeLog probe;
        env_.EscapeInCollection = [](int) { return true; };
        KesBatForm->Menu_PreviewClick(nullptr);
        EXPECT_EQ(PreviewText(IDC_PREVIEW_SUMMARY), WideRes(IDS_LOG_SEARCH_CANCELLED));
        EXPECT_TRUE(PreviewRows().empty());
        EXPECT_EQ(readsIn(probe), 0);
        EXPECT_EQ(env_.Beeps, std::vector<UINT>{MB_ICONQUESTION});
    }
    {
        ProbeLog probe;
        TScriptedEnvironment env;
        env.EscapeAtWritePoll = 2;
        KesBatForm->RunEnvironment = &env;
        KesBatForm->Menu_PreviewClick(nullptr);
        EXPECT_EQ(readsIn(probe), 2);
        EXPECT_EQ(PreviewRows().size(), 2u);
        EXPECT_EQ(PreviewText(IDC_PREVIEW_COUNT), L"2 / 4");
        EXPECT_EQ(Narrow(PreviewText(IDC_PREVIEW_SUMMARY)),
                  Narrow(stopped) + "ファイル 2 個のうち、コメントのあるもの 2 個、書き込めないもの 0 個");
        EXPECT_EQ(env.Beeps, std::vector<UINT>{MB_ICONQUESTION});
        EXPECT_EQ(probe.Lines().back(), "probe_rw.cpi unload");
    }
    // Closing the window after the first file: it reads no further.
    ProbeLog probe;
    TScriptedEnvironment env;
    env.OnDispatch = [](int n) {
        if (n == 2) SendMessageW(PreviewWindow(), WM_CLOSE, 0, 0);
    };
    KesBatForm->RunEnvironment = &env;
    KesBatForm->Menu_PreviewClick(nullptr);
    EXPECT_EQ(PreviewWindow(), nullptr);
    EXPECT_EQ(readsIn(probe), 1);
    EXPECT_EQ(probe.Lines().back(), "probe_rw.cpi unload");
}

// The plug-in slot is one: while a preview reads, a run cannot start, and
// while a run writes, a preview cannot.
TEST_F(BatchRun, ARunAndAPreviewNeverShareThePluginSlot) {
    TempDir top;
    for (const char* name : {"1.txt", "2.txt", "3.txt"}) top.MakeFile(name, Ktf(L"old"));
    SetText(IDC_EDIT_DIR, top.Path());
    Select("probe_rw");
    const auto tryTheOther = [&](int n) {
        EXPECT_FALSE(IsWindowEnabled(Control(IDC_BUTTON_START)));
        EXPECT_TRUE(MenuGrayed(IDM_PREVIEW));
        EXPECT_FALSE(IsWindowEnabled(Control(IDC_BUTTON_SETTING)));
        if (n != 2) return;
        KesBatForm->Button_StartClick(Control(IDC_BUTTON_START));
        KesBatForm->Menu_PreviewClick(nullptr);
    };
    {
        ProbeLog probe;
        env_.OnDispatch = tryTheOther;
        KesBatForm->Menu_PreviewClick(nullptr);
        const Lines lines = probe.Lines();
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "probe_rw.cpi load"), 1);
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [](const std::string& l) { return l.find("ReadCommentW") != std::string::npos; }),
                  3);
        EXPECT_TRUE(probe.Writes().empty());
        EXPECT_EQ(PreviewRows().size(), 3u);
        SendMessageW(PreviewWindow(), WM_CLOSE, 0, 0);
    }
    ProbeLog probe;
    TScriptedEnvironment env;
    env.OnDispatch = tryTheOther;
    KesBatForm->RunEnvironment = &env;
    KesBatForm->Button_StartClick(Control(IDC_BUTTON_START));
    // The run's plug-in was loaded once and wrote every file; no preview opened.
    EXPECT_EQ(probe.Writes().size(), 3u);
    const Lines lines = probe.Lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "probe_rw.cpi load"), 1);
    EXPECT_EQ(PreviewWindow(), nullptr);
    EXPECT_FALSE(MenuGrayed(IDM_PREVIEW));
}

// The window can be made larger or smaller, the list filling it, down to a
// least size at which the list still shows.
TEST_F(BatchRun, ThePreviewsListFollowsTheWindowsSize) {
    TempDir top;
    top.MakeFile("a.txt", Ktf(L""));
    SetText(IDC_EDIT_DIR, top.Path());
    Select("probe_rw");
    KesBatForm->Menu_PreviewClick(nullptr);
    HWND preview = PreviewWindow();
    HWND list = GetDlgItem(preview, IDC_PREVIEW_LIST);
    for (const SIZE size : {SIZE{900, 700}, SIZE{500, 300}, SIZE{50, 50}}) {
        SetWindowPos(preview, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER);
        RECT client, item;
        GetClientRect(preview, &client);
        GetWindowRect(list, &item);
        MapWindowPoints(nullptr, preview, reinterpret_cast<POINT*>(&item), 2);
        EXPECT_EQ(client.right - item.right, 8) << size.cx;
        EXPECT_EQ(client.bottom - item.bottom, 8) << size.cy;
        EXPECT_GE(item.bottom - item.top, 100) << size.cy;
    }
    SendMessageW(preview, WM_CLOSE, 0, 0);
}
