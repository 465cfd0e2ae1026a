// The batch run inside a real main window of this test program, over real
// folder trees and the real test plug-ins beside it.
#include "BatchRunFixture.h"

#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>

#include "Handles.h"
#include "Kes_bat_data.h"
#include "Mbox_res.h"
#include "PathText.h"
#include "kes_bat_msg.h"

using namespace kes_test;

namespace {

// What the log says of the probe's "FAIL" files: its answer as a number,
// since the probe has no WriteCommentW whose codes would say more.
const std::string kProbeFailed = " (プラグインの応答: 7)";

// The subfolders of dir in the order a search delivers them.
Lines SubdirOrder(const std::string& dir) {
    Lines names;
    for (const WIN32_FIND_DATAA& d : FolderEntries(dir))
        if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) names.push_back(d.cFileName);
    return names;
}


}  // namespace

TEST_F(BatchRun, FilesAreQueuedPatternByPatternThenSubfoldersDepthFirst) {
    TempDir top;
    top.MakeFile("b.dat");
    top.MakeFile("a.txt");
    top.MakeFile("ignored.doc");
    top.MakeFile("one\\c.txt");
    top.MakeFile("one\\deep\\d.dat");
    top.MakeFile("two\\e.txt");
    Select("upper_patterns");  // "*.txt;*.dat" once lower-cased

    // Each folder's .txt files, then its .dat files, then its subfolders,
    // each with everything below it before the next.
    Lines expected = {top / "a.txt", top / "b.dat"};
    for (const std::string& sub : SubdirOrder(top.Path())) {
        if (sub == "one") {
            expected.push_back(top / "one\\c.txt");
            expected.push_back(top / "one\\deep\\d.dat");
        } else {
            expected.push_back(top / "two\\e.txt");
        }
    }
    EXPECT_EQ(Collect(top.Path(), true), expected);
    // Without subfolders: the top folder's files only.
    EXPECT_EQ(Collect(top.Path(), false), (Lines{top / "a.txt", top / "b.dat"}));
    // A folder typed without its '\' gets exactly one.
    EXPECT_EQ(Collect(top.Path().substr(0, top.Path().size() - 1), false),
              (Lines{top / "a.txt", top / "b.dat"}));
}

TEST_F(BatchRun, AttributesDecideWhatIsQueuedAndWhereTheSearchGoes) {
    TempDir top;
    const std::string hidden = top.MakeFile("hidden.txt");
    const std::string system = top.MakeFile("system.txt");
    const std::string readOnly = top.MakeFile("readonly.txt");
    ASSERT_TRUE(SetFileAttributesA(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(SetFileAttributesA(system.c_str(), FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    top.MakeDir("folder.txt");  // a folder is never queued, whatever its name
    top.MakeFile("hiddendir\\below.txt");
    top.MakeFile("systemdir\\below.txt");
    top.MakeFile("readonlydir\\below.txt");
    top.MakeFile("plain\\inner.txt");
    ASSERT_TRUE(SetFileAttributesA((top / "hiddendir").c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(SetFileAttributesA((top / "systemdir").c_str(), FILE_ATTRIBUTE_SYSTEM));
    MakeReadOnlyDir(top / "readonlydir");

    Lines queued = Collect(top.Path(), true);
    std::sort(queued.begin(), queued.end());
    // A hidden or system folder is skipped with everything below it; a
    // read-only one (as Windows marks customised folders) is searched.
    EXPECT_EQ(queued, (Lines{hidden, top / "plain\\inner.txt", readOnly, top / "readonlydir\\below.txt", system}));
}

TEST_F(BatchRun, PatternListsAreSplitOnSemicolonsAndEmptyItemsMatchNothing) {
    TempDir top;
    top.MakeFile("x.txt");
    top.MakeFile("y.dat");
    Select("gappy");  // "*.txt;;*.txt;": the empty items search the bare folder
    EXPECT_EQ(Collect(top.Path(), false), (Lines{top / "x.txt", top / "x.txt"}));
}

TEST_F(BatchRun, FoldersEndingInAShiftJisCharacterWithByte5CAreSearched) {
    TempDir top;
    // "表" is 0x95 0x5C and "ソ" 0x83 0x5C: the second byte is no '\'.
    const std::string hyo = top.MakeDir("\x95\x5c");
    const std::string so = top.MakeDir("\x83\x5c\\\x83\x5c");
    top.MakeFile("\x95\x5c\\a.txt");
    top.MakeFile("\x83\x5c\\\x83\x5c\\b.txt");
    EXPECT_EQ(Collect(hyo, false), (Lines{hyo + "\\a.txt"}));
    EXPECT_EQ(Collect(so, false), (Lines{so + "\\b.txt"}));
    Lines all = Collect(top.Path(), true);
    std::sort(all.begin(), all.end());
    EXPECT_EQ(all, (Lines{so + "\\b.txt", hyo + "\\a.txt"}));
}

TEST_F(BatchRun, ACompletedRunLogsCountsAndFailuresAndWritesEveryFileOnce) {
    TempDir top;
    top.MakeFile("1.txt", "one");
    top.MakeFile("2.txt", "FAIL two");
    top.MakeFile("sub\\3.txt", "three");
    top.MakeFile("sub\\4.txt", "FAIL four");
    SetText(IDC_EDIT_DIR, top.Path());
    SendMessageA(Control(IDC_CHECKBOX_SUBDIR), BM_SETCHECK, BST_CHECKED, 0);
    ProbeLog probe;
    // An edit of the comment during the run counts from the next file on.
    env_.OnDispatch = [&](int n) {
        if (n == 3) SetText(IDC_MEMO_COMMENT, "");
        // Choosing another type meanwhile changes nothing of the run.
        if (n == 2 || n == 4) {
            Select(n == 2 ? "gappy" : "probe");
            KesBatForm->ComboBox_ExtChange(Control(IDC_COMBOBOX_EXT));
        }
        // The plug-in dialogs must not reach the slot the run writes
        // through: not by their buttons, not by their handler, not at all.
        EXPECT_FALSE(IsWindowEnabled(Control(IDC_BUTTON_START)));
        EXPECT_FALSE(IsWindowEnabled(Control(IDC_BUTTON_ABOUT)));
        EXPECT_FALSE(IsWindowEnabled(Control(IDC_BUTTON_SETTING)));
        KesBatForm->Button_SettingClick(Control(IDC_BUTTON_ABOUT));
        const int selected = static_cast<int>(SendMessageA(Control(IDC_COMBOBOX_EXT), CB_GETCURSEL, 0, 0));
        EXPECT_FALSE(KesBat.ShowPluginDialog(KesBatForm->Handle, selected, ModeAbout));
    };
    KesBatForm->Button_StartClick(Control(IDC_BUTTON_START));

    const auto writes = probe.Writes();
    ASSERT_EQ(writes.size(), 4u);
    Lines expectedLog = {"4" + kCountLine};
    // Dispatch 3 comes after the second file; an empty comment is passed
    // as an empty text.
    for (size_t i = 0; i < writes.size(); ++i) EXPECT_EQ(writes[i].CommentHex, i < 2 ? Hex("comment") : "") << i;
    // The failing files, in the order in which they were written.
    for (const auto& w : writes) {
        for (const char* name : {"2.txt", "sub\\4.txt"})
            if (w.PathHex == Hex(top / name)) expectedLog.push_back(KES_ERROR_PREFIX + top / name + kProbeFailed);
    }
    expectedLog.push_back(LoadResString(IDS_LOG_COMPLETED));
    expectedLog.push_back("2" + LoadResString(IDS_LOG_ERROR_COUNT));
    EXPECT_EQ(Log(), expectedLog);
    EXPECT_EQ(env_.Beeps, std::vector<UINT>{MB_OK});
    EXPECT_EQ(env_.Dispatches, 5);  // before the first file and after each
    // One poll per entry that a search returns: the file passes return the
    // two .txt files of each folder, the folder passes ".", "..", the files
    // and "sub" at the top and ".", ".." and the files in "sub".
    EXPECT_EQ(env_.CollectionPolls, 2 + 5 + 2 + 4);
    EXPECT_EQ(Text(IDC_LABEL_COUNT), "4 / 4");
    HWND bar = Control(IDC_PROGRESSBAR_COUNT);
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 4);
    EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, FALSE, 0), 4);
    EXPECT_TRUE(KesBatForm->FileList->empty());
    EXPECT_TRUE(IsWindowEnabled(Control(IDC_BUTTON_START)));
    EXPECT_TRUE(IsWindowEnabled(Control(IDC_BUTTON_ABOUT)));  // the probe's flags are 17
    EXPECT_TRUE(IsWindowEnabled(Control(IDC_BUTTON_SETTING)));
    EXPECT_EQ(GetModuleHandleA("probe.cpi"), nullptr);  // released after the run
    EXPECT_EQ(probe.Lines().back(), "probe.cpi unload");
    for (const std::string& line : probe.Lines()) EXPECT_EQ(line.find("ConfigurationDlg"), std::string::npos) << line;
}

TEST_F(BatchRun, WithoutErrorsOrFilesTheRunSaysSo) {
    TempDir top;
    top.MakeFile("a.txt", "x");
    SetText(IDC_EDIT_DIR, top.Path());
    KesBatForm->Button_StartClick(Control(IDC_BUTTON_START));
    EXPECT_EQ(Log(), (Lines{"1" + kCountLine, LoadResString(IDS_LOG_COMPLETED)}));

    TKesBatForm& form = *KesBatForm;
    TempDir empty;
    empty.MakeFile("a.dat");
    SetText(IDC_EDIT_DIR, empty.Path());
    env_.Beeps.clear();
    form.Button_StartClick(Control(IDC_BUTTON_START));
    EXPECT_EQ(Log(), (Lines{kSearching, LoadResString(IDS_LOG_NO_FILES)}));
    EXPECT_EQ(env_.Beeps, std::vector<UINT>{MB_ICONEXCLAMATION});
    EXPECT_EQ(Text(IDC_LABEL_COUNT), "0 / 0");
    // Holding Escape changes nothing when no search returns an entry: the
    // key is never polled.
    TScriptedEnvironment held;
    held.EscapeInCollection = [](int) { return true; };
    form.RunEnvironment = &held;
    form.Button_StartClick(Control(IDC_BUTTON_START));
    EXPECT_EQ(Log(), (Lines{kSearching, LoadResString(IDS_LOG_NO_FILES)}));
    EXPECT_EQ(held.CollectionPolls, 0);
    EXPECT_EQ(held.Beeps, std::vector<UINT>{MB_ICONEXCLAMATION});
}

TEST_F(BatchRun, EscapeDuringCollectionCancelsAndWritesNothing) {
    TempDir top;
    top.MakeFile("one\\two\\c.txt");
    top.MakeFile("one\\two\\d.txt");
    SetText(IDC_EDIT_DIR, top.Path());
    SendMessageA(Control(IDC_CHECKBOX_SUBDIR), BM_SETCHECK, BST_CHECKED, 0);
    ProbeLog probe;
    // Held from the start: cancelled at the first entry of any search. Then
    // pressed inside one\two, once its first file has been found.
    const std::vector<std::function<bool(int)>> escapes = {
        [](int) { return true; }, [](int) { return !KesBatForm->FileList->empty(); }};
    for (size_t i = 0; i < escapes.size(); ++i) {
        TScriptedEnvironment env;
        env.EscapeInCollection = escapes[i];
        KesBatForm->RunEnvironment = &env;
        KesBatForm->Button_StartClick(Control(IDC_BUTTON_START));
        EXPECT_EQ(Log(), (Lines{kSearching, LoadResString(IDS_LOG_SEARCH_CANCELLED)})) << i;
        EXPECT_EQ(env.Beeps, std::vector<UINT>{MB_ICONQUESTION});
        EXPECT_EQ(env.Dispatches, 0);  // nothing is dispatched while collecting
        if (i == 0) {
            EXPECT_EQ(env.CollectionPolls, 1);
        }
        // What was found so far stays queued, unwritten.
        EXPECT_EQ(KesBatForm->FileList->size(), i);
        EXPECT_EQ(Text(IDC_LABEL_COUNT), "0 / 0");
    }
    EXPECT_TRUE(probe.Writes().empty());
    EXPECT_TRUE(IsWindowEnabled(Control(IDC_BUTTON_START)));
}

TEST_F(BatchRun, EscapeWhileAFileIsWrittenStopsAfterThatFile) {
    TempDir top;
    for (const char* name : {"1.txt", "2.txt", "3.txt", "4.txt"})
        top.MakeFile(name, std::string(name) == "2.txt" ? "FAIL" : "ok");
    SetText(IDC_EDIT_DIR, top.Path());
    for (int k : {1, 3}) {
        ProbeLog probe;
        TScriptedEnvironment env;
        env.EscapeAtWritePoll = k;
        KesBatForm->RunEnvironment = &env;
        KesBatForm->Button_StartClick(Control(IDC_BUTTON_START));

        const auto writes = probe.Writes();
        ASSERT_EQ(writes.size(), static_cast<size_t>(k));  // file k is written, then the run stops
        Lines expected = {"4" + kCountLine};
        for (const auto& w : writes)
            if (w.PathHex == Hex(top / "2.txt")) expected.push_back(KES_ERROR_PREFIX + top / "2.txt" + kProbeFailed);
        expected.push_back(LoadResString(IDS_LOG_STOPPED));
        EXPECT_EQ(Log(), expected) << k;
        EXPECT_EQ(env.Beeps, std::vector<UINT>{MB_ICONQUESTION});
        EXPECT_EQ(Text(IDC_LABEL_COUNT), std::to_string(k - 1) + " / 4");
        // The file at which it stopped is still first in the list.
        EXPECT_EQ(KesBatForm->FileList->size(), static_cast<size_t>(4 - k + 1));
        EXPECT_EQ(Hex(Narrow(KesBatForm->FileList->front().Path.Text())), writes.back().PathHex);
        EXPECT_EQ(env.Dispatches, k);
        EXPECT_TRUE(IsWindowEnabled(Control(IDC_BUTTON_START)));
    }
}

TEST_F(BatchRun, AFailureInsideTheRunStillRestoresTheWindowAndReleasesThePlugin) {
    TempDir top;
    top.MakeFile("1.txt");
    top.MakeFile("2.txt");
    SetText(IDC_EDIT_DIR, top.Path());
    env_.OnDispatch = [](int n) {
        if (n == 2) throw std::bad_alloc();
    };
    EXPECT_THROW(KesBatForm->Button_StartClick(Control(IDC_BUTTON_START)), std::bad_alloc);
    EXPECT_TRUE(IsWindowEnabled(Control(IDC_BUTTON_START)));
    EXPECT_TRUE(IsWindowEnabled(Control(IDC_BUTTON_ABOUT)));
    EXPECT_EQ(GetModuleHandleA("probe.cpi"), nullptr);
}

TEST_F(BatchRun, ClosingTheWindowDuringARunEndsTheRunThenTheWindow) {
    TempDir top;
    for (const char* name : {"1.txt", "2.txt", "3.txt"}) top.MakeFile(name, "ok");
    SetText(IDC_EDIT_DIR, top.Path());
    ProbeLog probe;
    HWND window = KesBatForm->Handle;
    env_.OnDispatch = [&](int n) {
        if (n == 2) SendMessageA(window, WM_CLOSE, 0, 0);  // after the first file
        EXPECT_TRUE(IsWindow(window));
        EXPECT_NE(KesBatForm->FileList, nullptr);
    };
    KesBatForm->Button_StartClick(Control(IDC_BUTTON_START));
    EXPECT_EQ(probe.Writes().size(), 1u);
    EXPECT_EQ(Log(), (Lines{"3" + kCountLine, LoadResString(IDS_LOG_STOPPED)}));
    EXPECT_EQ(env_.Beeps, std::vector<UINT>{MB_ICONQUESTION});
    EXPECT_EQ(GetModuleHandleA("probe.cpi"), nullptr);

    // The close itself follows once the run has returned.
    MSG msg;
    bool quit = false;
    for (int i = 0; i < 1000 && !quit; ++i) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) quit = true;
            else DispatchMessageA(&msg);
        }
        Sleep(10);
    }
    EXPECT_TRUE(quit);
    EXPECT_FALSE(IsWindow(window));
    form_.reset();
    EXPECT_EQ(KesBatForm, nullptr);
}

// Redrawing the counter for every file cost a run over small files most of
// its time; it catches up every few dozen milliseconds instead, and ends
// exact.
TEST_F(BatchRun, TheCounterCatchesUpAtAPaceTheEyeCanFollowAndEndsExact) {
    TempDir top;
    constexpr int kFiles = 20;
    for (int i = 0; i < kFiles; ++i) top.MakeFile(std::to_string(i) + ".txt", "ok");
    SetText(IDC_EDIT_DIR, top.Path());
    const std::string total = " / " + std::to_string(kFiles);
    HWND bar = Control(IDC_PROGRESSBAR_COUNT);
    // While the clock stands still, the counter and the bar keep what they
    // showed at the start...
    std::vector<std::string> seen;
    env_.OnDispatch = [&](int n) {
        if (n > 1 && n <= kFiles) {
            seen.push_back(Text(IDC_LABEL_COUNT));
            EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 0) << n;
        }
    };
    KesBatForm->Button_StartClick(Control(IDC_BUTTON_START));
    EXPECT_EQ(seen, Lines(kFiles - 1, "0" + total));
    // ...and show the exact count when the run ends.
    EXPECT_EQ(Text(IDC_LABEL_COUNT), std::to_string(kFiles) + total);
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), kFiles);

    // With 50 ms or more between two files they follow every file once the
    // first interval has passed.
    TScriptedEnvironment paced;
    paced.OnDispatch = [&](int n) {
        if (n > 2) {
            EXPECT_EQ(Text(IDC_LABEL_COUNT), std::to_string(n - 1) + total);
            EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), n - 1);
        }
        paced.Clock += 50;
    };
    KesBatForm->RunEnvironment = &paced;
    KesBatForm->Button_StartClick(Control(IDC_BUTTON_START));
    EXPECT_EQ(paced.Dispatches, kFiles + 1);
    EXPECT_EQ(Log().back(), LoadResString(IDS_LOG_COMPLETED));
}

namespace {
BOOL CALLBACK CountProperty(HWND, LPSTR, HANDLE, ULONG_PTR count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}
}  // namespace

// The run reads the comment field for every file. A field that keeps window
// properties looks them up on every message (the common controls' subclass
// chain does so), and under Wine each lookup is a round trip to its server:
// that made reading the comment cost more than reading a small file.
TEST_F(BatchRun, TheCommentFieldThatEveryFileReadsKeepsNoWindowProperties) {
    HWND memo = Control(IDC_MEMO_COMMENT);
    int properties = 0;
    EnumPropsExA(memo, CountProperty, reinterpret_cast<LPARAM>(&properties));
    EXPECT_EQ(properties, 0);
    // The field's own handling of Tab and Escape is still in place.
    MSG tab{memo, WM_KEYDOWN, VK_TAB, 0, 0, {}};
    EXPECT_EQ(SendMessageA(memo, WM_GETDLGCODE, VK_TAB, reinterpret_cast<LPARAM>(&tab)),
              DLGC_WANTCHARS | DLGC_HASSETSEL | DLGC_WANTARROWS);
    SetText(IDC_MEMO_COMMENT, "kept");
    EXPECT_EQ(SendMessageA(memo, WM_CHAR, VK_ESCAPE, 1), 0);
    EXPECT_EQ(Text(IDC_MEMO_COMMENT), "kept");
}


// A name that code page 932 cannot hold exactly would reach a plug-in of
// the code page as another name: "¥" becomes "\", so "¥..¥outside.txt"
// names a file outside the folder; a character with no form becomes "?", a
// wildcard. Such names are reported as failed at their place and never
// reach such a plug-in; a folder that cannot be searched is reported once.
// A plug-in with WriteCommentW gets every name as it is, of any length.
TEST_F(BatchRun, EveryNameReachesAUnicodePluginAndNoneAPluginOfTheCodePageAsAnother) {
    TempDir top;
    const std::string outside = top.MakeFile("outside.txt", "outside");
    const std::wstring inner = AnsiText(top.MakeDir("inner") + "\\");
    const std::wstring deep = std::wstring(120, L'\u00fb') + L"\\" + std::wstring(120, L'\u00fb');
    const std::vector<std::wstring> odd = {
        MakeWideFile(inner + L"\u00a5..\u00a5outside.txt"),
        MakeWideFile(inner + L"d\u00e9\\x.txt"),  // "é": not in the code page
        MakeWideFile(inner + L"\u604b\u306e\u3046\u305f\u2661.txt"),
        MakeWideFile(inner + L"Ry\u016bichi \u301c\\\uc0ac\ub791 \U0001F600.txt"),
    };
    // Odd too, and only in the \\?\ form does Win32 take them as they are.
    const std::vector<std::wstring> longForm = {
        MakeWideFile(inner + deep + L"\\long.txt"),  // a path of over 300 characters
        // Names the plain form changes: "album." would be "album", "aux" a device.
        MakeWideFile(inner + L"album.\\track.txt"),
        MakeWideFile(inner + L"aux.txt"),
    };
    top.MakeFile("inner\\album\\track.txt", "ok");
    top.MakeFile("inner\\dz\\y.txt", "ok");  // what "d?" as a wildcard would also search
    top.MakeFile("inner\\a.txt", "ok");
    top.MakeDir("inner\\gone");
    // "gone" vanishes between its listing and its search: once the .txt
    // files of "inner" are queued, its folder pass has begun.
    env_.EscapeInCollection = [&](int) {
        if (KesBatForm->FileList->size() == 4) RemoveDirectoryW((inner + L"gone").c_str());
        return false;
    };
    SetWindowTextW(Control(IDC_EDIT_DIR), inner.c_str());
    SendMessageA(Control(IDC_CHECKBOX_SUBDIR), BM_SETCHECK, BST_CHECKED, 0);

    // The code page's plug-in: the odd names and the vanished folder are
    // listed as they are, as errors; nothing else is handed over.
    {
        ProbeLog probe;
        KesBatForm->Button_StartClick(Control(IDC_BUTTON_START));
        std::vector<std::string> written;
        for (const auto& w : probe.Writes()) written.push_back(w.PathHex);
        std::sort(written.begin(), written.end());
        EXPECT_EQ(written, (Lines{Hex(Narrow(inner) + "a.txt"), Hex(Narrow(inner) + "album\\track.txt"),
                                  Hex(Narrow(inner) + "dz\\y.txt")}));
        EXPECT_EQ(ReadFileBytes(outside), "outside");
        const std::vector<std::wstring> log = WideLog();
        std::vector<std::wstring> errors(log.begin() + 1, log.end() - 2);
        std::sort(errors.begin(), errors.end());
        const std::map<std::wstring, int> why = {
            {L"\u00a5..\u00a5outside.txt", IDS_REASON_NOT_IN_CODE_PAGE}, {L"d\u00e9\\", IDS_REASON_NOT_IN_CODE_PAGE},
            {L"gone\\", IDS_REASON_UNSEARCHABLE}, {L"\u604b\u306e\u3046\u305f\u2661.txt", IDS_REASON_NOT_IN_CODE_PAGE},
            {L"Ry\u016bichi \u301c\\", IDS_REASON_NOT_IN_CODE_PAGE}, {deep.substr(0, 120) + L"\\", IDS_REASON_NOT_IN_CODE_PAGE},
            {L"album.\\", IDS_REASON_NAME_NOT_PLAIN}, {L"aux.txt", IDS_REASON_NAME_NOT_PLAIN}};
        std::vector<std::wstring> expected;
        for (const auto& [name, reason] : why)
            expected.push_back(AnsiText(KES_ERROR_PREFIX) + inner + name + L" (" + WideRes(reason) + L")");
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(errors, expected);
        EXPECT_EQ(log.front(), L"11" + AnsiText(kCountLine));
        EXPECT_EQ(log.back(), L"8" + AnsiText(LoadResString(IDS_LOG_ERROR_COUNT)));
    }
    // The Unicode plug-in: every file, by its own name; a long path in the
    // \\?\ form that the file functions take.
    top.MakeDir("inner\\gone");
    Select("probe_w");
    SetWindowTextW(Control(IDC_MEMO_COMMENT), L"caf\u00e9 \u2661");
    ProbeLog probe;
    KesBatForm->Button_StartClick(Control(IDC_BUTTON_START));
    std::vector<std::string> written, expected = {WideHex(inner + L"a.txt"), WideHex(inner + L"dz\\y.txt"),
                                                  WideHex(inner + L"album\\track.txt")};
    for (const auto& w : probe.Writes()) {
        EXPECT_TRUE(w.Wide);
        EXPECT_EQ(w.CommentHex, WideHex(L"caf\u00e9 \u2661"));
        written.push_back(w.PathHex);
    }
    for (const std::wstring& path : odd) expected.push_back(WideHex(path));
    for (const std::wstring& path : longForm) expected.push_back(WideHex(LongForm(path)));
    std::sort(written.begin(), written.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(written, expected);
    EXPECT_EQ(WideLog().back(), AnsiText(LoadResString(IDS_LOG_COMPLETED)));
}

// A cloud file whose contents are online only would be downloaded by any
// read. Wine cannot mark a file so; the run's seam for the platform does.
TEST_F(BatchRun, OnlineOnlyCloudFilesAreListedCountedAndLeftUnread) {
    TempDir top;
    top.MakeFile("a.txt", "ok");
    top.MakeFile("online.txt", "FAIL if read");
    top.MakeFile("offline.txt", "FAIL if read");
    top.MakeFile("cloud\\b.txt", "ok");
    top.MakeFile("cloud\\c.txt", "FAIL if read");
    const std::map<std::wstring, DWORD> marks = {
        {L"online.txt", 0x400000}, {L"offline.txt", FILE_ATTRIBUTE_OFFLINE}, {L"c.txt", 0x40000},
        {L"cloud", 0x40000}};  // a folder is searched all the same
    env_.ExtraAttributes = [&](const std::wstring& name) {
        const auto it = marks.find(name);
        return it == marks.end() ? 0 : it->second;
    };
    SetText(IDC_EDIT_DIR, top.Path());
    SendMessageA(Control(IDC_CHECKBOX_SUBDIR), BM_SETCHECK, BST_CHECKED, 0);
    ProbeLog probe;
    KesBatForm->Button_StartClick(Control(IDC_BUTTON_START));

    Lines written;
    for (const auto& w : probe.Writes()) written.push_back(w.PathHex);
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written, (Lines{Hex(top / "a.txt"), Hex(top / "cloud\\b.txt")}));
    const std::string online = LoadResString(IDS_LOG_ONLINE_ONLY);
    Lines log = Log();
    ASSERT_EQ(log.size(), 6u) << ::testing::PrintToString(log);
    EXPECT_EQ(log.front(), "5" + kCountLine);
    Lines left(log.begin() + 1, log.begin() + 4);
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (Lines{online + top / "cloud\\c.txt", online + top / "offline.txt", online + top / "online.txt"}));
    EXPECT_EQ(log[4], LoadResString(IDS_LOG_COMPLETED));
    EXPECT_EQ(log[5], "3" + LoadResString(IDS_LOG_ONLINE_ONLY_COUNT));
    EXPECT_EQ(Text(IDC_LABEL_COUNT), "5 / 5");
}

// The system also matches a pattern against the 8.3 short name, so "*.txt"
// finds "a.txt_original" through "A~1.TXT": only the long name counts.
TEST_F(BatchRun, OnlyTheLongNameMatchesAPattern) {
    TempDir top;
    for (const char* name : {"a.txt_original", "b.txt~", "c.txtx", "d.txt", "E.TXT", "f.datx"}) top.MakeFile(name);
    Select("upper_patterns");  // "*.txt;*.dat"
    Lines queued = Collect(top.Path(), false);
    std::sort(queued.begin(), queued.end());
    EXPECT_EQ(queued, (Lines{top / "E.TXT", top / "d.txt"}));
}

namespace {

// A drop as the shell makes it: a DROPFILES block with UTF-16 paths.
HDROP MakeDrop(const std::wstring& wide) {
    HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + (wide.size() + 2) * sizeof(wchar_t));
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    std::copy(wide.begin(), wide.end(), reinterpret_cast<wchar_t*>(drop + 1));
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

std::wstring ClipboardText() {
    std::wstring text;
    if (!OpenClipboard(nullptr)) return L"(no clipboard)";
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        text = static_cast<const wchar_t*>(GlobalLock(data));
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
}


}  // namespace

TEST_F(BatchRun, DropsFillTheFolderFieldAndTheLogCopiesEveryCharacter) {
    TempDir top;
    const std::wstring dir = AnsiText(top.Path());
    const std::wstring hyo = AnsiText(top.MakeDir("\x95\x5c"));  // "表": its second byte is no '\'
    const std::wstring cafe = dir + L"caf\u00e9\u2661";           // "café♡": beyond the code page
    const std::wstring file = MakeWideFile(cafe + L"\\a.txt", "FAIL");
    const auto drop = [&](const std::wstring& path) {
        SendMessageA(KesBatForm->Handle, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(path)), 0);
        return WideText(IDC_EDIT_DIR);
    };
    EXPECT_EQ(drop(hyo), hyo + L"\\");
    EXPECT_EQ(drop(dir), dir);
    EXPECT_EQ(drop(file), cafe + L"\\");  // a file gives its folder
    // During a run the folder is the run's: a drop changes nothing.
    Select("probe_w");
    env_.OnDispatch = [&](int) { EXPECT_EQ(drop(hyo), cafe + L"\\"); };
    KesBatForm->Button_StartClick(Control(IDC_BUTTON_START));
    EXPECT_EQ(WideText(IDC_EDIT_DIR), cafe + L"\\");

    // Ctrl+C in the log, and the context menu's command, copy every line
    // with every character: "é♡" cannot have come from the code page's form.
    std::wstring expected;
    for (const std::wstring& line : WideLog()) expected += line + L"\r\n";
    ASSERT_NE(expected.find(AnsiText(KES_ERROR_PREFIX) + file), std::wstring::npos);
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_CONTROL] = 0x80;
    SetKeyboardState(keys);
    SendMessageA(Control(IDC_LISTBOX_LOG), WM_KEYDOWN, 'C', 1);
    keys[VK_CONTROL] = 0;
    SetKeyboardState(keys);
    EXPECT_EQ(ClipboardText(), expected);
    ASSERT_TRUE(OpenClipboard(nullptr) && EmptyClipboard() && CloseClipboard());
    SendMessageA(KesBatForm->Handle, WM_COMMAND, IDM_COPY_LOG, 0);
    EXPECT_EQ(ClipboardText(), expected);
}

// The picker's folder went through the code page before: "café" came back
// as "cafe", another folder, and "x¥..¥victim" as "x\..\victim", a folder
// the user never chose. It comes back as it is now.
TEST_F(BatchRun, TheFolderPickerGivesTheChosenFolderExactly) {
    TempDir top;
    const std::wstring dir = AnsiText(top.Path());
    for (const std::wstring& name : {std::wstring(L"cafe"), std::wstring(L"caf\u00e9"),
                                     std::wstring(L"x\u00a5..\u00a5victim"), std::wstring(L"victim")})
        ASSERT_TRUE(CreateDirectoryW((dir + name).c_str(), nullptr));
    for (const std::wstring& name : {std::wstring(L"caf\u00e9"), std::wstring(L"x\u00a5..\u00a5victim")}) {
        const std::wstring chosen = dir + name;
        // The picker is modal: it is answered from another thread, as a
        // user would, once it is open.
        std::thread user([&] {
            HWND dialog = nullptr;
            for (int i = 0; i < 500 && dialog == nullptr; ++i, Sleep(20))
                dialog = FindTopLevelWindow(GetCurrentProcessId(), "#32770", KesBatForm->Handle);
            // Chosen once the picker has filled its tree and shows the folder
            // selected.
            HWND tree = FindWindowExW(dialog, nullptr, L"SysTreeView32", nullptr);
            for (int i = 0; i < 500; ++i, Sleep(20)) {
                SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(chosen.c_str()));
                wchar_t text[MAX_PATH] = L"";
                TVITEMW item{};
                item.mask = TVIF_TEXT;
                item.hItem = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
                item.pszText = text;
                item.cchTextMax = MAX_PATH;
                if (item.hItem != nullptr && SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)) &&
                    name == text)
                    break;
            }
            PostMessageW(dialog, WM_COMMAND, IDOK, 0);
        });
        KesBatForm->SpeedButton1Click(Control(IDC_SPEEDBUTTON1));
        user.join();
        EXPECT_EQ(WideText(IDC_EDIT_DIR), chosen + L"\\");
    }
}
