// The batch run inside a real main window of this test program, over real
// folder trees and the real probe plug-in beside it. Only the Escape key,
// the dispatch step and the sound go through a scripted environment, so
// that Escape can be held at exactly one poll.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <thread>

#include "Application.h"
#include "Handles.h"
#include "Kes_bat_data.h"
#include "Mbox_res.h"
#include "PathText.h"
#include "TestSupport.h"
#include "kes_bat_form.h"
#include "kes_bat_ids.h"
#include "kes_bat_msg.h"
#include "kes_bat_texts.h"

using namespace kes_test;
using Lines = std::vector<std::string>;

namespace {

class TScriptedEnvironment : public TRunEnvironment {
public:
    // Escape is down at the collection's polls (counted from 1) for which
    // this says so...
    std::function<bool(int)> EscapeInCollection;
    // ...or at this poll of the write phase (the k-th file).
    int EscapeAtWritePoll = 0;
    // Called at each dispatch point with its number (1 before the first file).
    std::function<void(int)> OnDispatch;

    int CollectionPolls = 0, WritePolls = 0, Dispatches = 0;
    std::vector<UINT> Beeps;
    // The clock the progress display is paced by; it only moves when a test
    // moves it.
    DWORD Clock = 1000;
    // Bits a test adds to a search entry's attributes, by its name.
    std::function<DWORD(const std::wstring&)> ExtraAttributes;

    bool EscapePressed() override {
        if (Dispatches == 0) {
            ++CollectionPolls;
            return EscapeInCollection && EscapeInCollection(CollectionPolls);
        }
        return ++WritePolls == EscapeAtWritePoll;
    }
    void ProcessMessages() override {
        ++Dispatches;
        Application.ProcessMessages();
        if (OnDispatch) OnDispatch(Dispatches);
    }
    void Beep(UINT type) override { Beeps.push_back(type); }
    DWORD TickCount() override { return Clock; }
    DWORD EntryAttributes(const WIN32_FIND_DATAW& entry) override {
        return entry.dwFileAttributes | (ExtraAttributes ? ExtraAttributes(entry.cFileName) : 0);
    }
};

class BatchRun : public ::testing::Test {
protected:
    void SetUp() override {
        // One window serves every test: the registry is filled once per
        // program, as in the tool.
        if (KesBatForm == nullptr) {
            form_ = std::make_unique<TKesBatForm>();
            form_->Create();
            Application.ProcessMessages();
        }
        ASSERT_EQ(KesBatForm->Tag, TKesBatForm::TagReady);
        KesBatForm->RunEnvironment = &env_;
        Select("probe");
        SetText(IDC_MEMO_COMMENT, "comment");
        SendMessageA(Control(IDC_CHECKBOX_SUBDIR), BM_SETCHECK, BST_UNCHECKED, 0);
    }
    void TearDown() override {
        if (KesBatForm != nullptr) KesBatForm->RunEnvironment = &platform_;
    }
    static void TearDownTestSuite() { form_.reset(); }

    HWND Control(int id) { return KesBatForm->Control(id); }
    void SetText(int id, const std::string& text) { SetWindowTextA(Control(id), text.c_str()); }
    std::string Text(int id) {
        char buf[1024];
        GetWindowTextA(Control(id), buf, sizeof buf);
        return buf;
    }
    // Chooses the file type whose description is given, as the user would.
    void Select(const std::string& description) {
        HWND combo = Control(IDC_COMBOBOX_EXT);
        const int found = static_cast<int>(
            SendMessageA(combo, CB_FINDSTRING, static_cast<WPARAM>(-1),
                         reinterpret_cast<LPARAM>((description + " (").c_str())));
        ASSERT_GE(found, 0) << description;
        SendMessageA(combo, CB_SETCURSEL, found, 0);
    }
    Lines Log() {
        Lines lines;
        HWND log = Control(IDC_LISTBOX_LOG);
        const int n = static_cast<int>(SendMessageA(log, LB_GETCOUNT, 0, 0));
        for (int i = 0; i < n; ++i) {
            char buf[1024];
            SendMessageA(log, LB_GETTEXT, i, reinterpret_cast<LPARAM>(buf));
            lines.push_back(buf);
        }
        return lines;
    }
    // The queued paths; an entry reported as failed without a write shows
    // as its log line.
    Lines Queue() {
        Lines paths;
        for (const TQueuedPath& e : *KesBatForm->FileList)
            paths.push_back((e.Kind == TQueued::Write ? "" : KES_ERROR_PREFIX) + Narrow(e.Path.Text()));
        return paths;
    }
    // Collects as a run does, for the type chosen and the folder given.
    Lines Collect(const std::string& dir, bool subDirs) {
        KesBatForm->FileList->clear();
        EXPECT_TRUE(KesBatForm->CollectFiles(AnsiPath(dir), subDirs));
        return Queue();
    }
    static std::unique_ptr<TKesBatForm> form_;
    TScriptedEnvironment env_;
    TRunEnvironment platform_;
};

std::unique_ptr<TKesBatForm> BatchRun::form_;

const std::string kCountLine = LoadResString(IDS_LOG_FILE_COUNT);
const std::string kSearching = LoadResString(IDS_LOG_SEARCHING);

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
            if (w.PathHex == Hex(top / name)) expectedLog.push_back(KES_ERROR_PREFIX + top / name);
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
            if (w.PathHex == Hex(top / "2.txt")) expected.push_back(KES_ERROR_PREFIX + top / "2.txt");
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
    for (int i = 0; i < 100 && !quit; ++i) {
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

namespace {

// Makes a file (and the folders above it) whose path holds any characters.
std::wstring MakeWideFile(const std::wstring& path, const std::string& bytes = "x") {
    for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1))
        CreateDirectoryW(TFilePath(path.substr(0, at)).Win32().c_str(), nullptr);
    CFileHandle file(CreateFileW(TFilePath(path).Win32().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                                 nullptr));
    DWORD written = 0;
    EXPECT_TRUE(file.IsOpen() && WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                                           nullptr));
    return path;
}

std::vector<std::wstring> WideLog() {
    std::vector<std::wstring> lines;
    HWND log = KesBatForm->Control(IDC_LISTBOX_LOG);
    const int n = static_cast<int>(SendMessageW(log, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
        std::wstring line(static_cast<size_t>(SendMessageW(log, LB_GETTEXTLEN, i, 0)), L'\0');
        SendMessageW(log, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line.data()));
        lines.push_back(line);
    }
    return lines;
}

}  // namespace

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
        MakeWideFile(inner + deep + L"\\long.txt"),  // a path of over 300 characters
    };
    top.MakeFile("inner\\dz\\y.txt", "ok");  // what "d?" as a wildcard would also search
    top.MakeFile("inner\\a.txt", "ok");
    top.MakeDir("inner\\gone");
    // "gone" vanishes between its listing and its search: once the .txt
    // files of "inner" are queued, its folder pass has begun.
    env_.EscapeInCollection = [&](int) {
        if (KesBatForm->FileList->size() == 3) RemoveDirectoryW((inner + L"gone").c_str());
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
        EXPECT_EQ(written, (Lines{Hex(Narrow(inner) + "a.txt"), Hex(Narrow(inner) + "dz\\y.txt")}));
        EXPECT_EQ(ReadFileBytes(outside), "outside");
        const std::vector<std::wstring> log = WideLog();
        std::vector<std::wstring> errors(log.begin() + 1, log.end() - 2);
        std::sort(errors.begin(), errors.end());
        const std::wstring error = AnsiText(KES_ERROR_PREFIX);
        std::vector<std::wstring> expected = {error + inner + L"\u00a5..\u00a5outside.txt", error + inner + L"d\u00e9\\",
                                              error + inner + L"gone\\",
                                              error + inner + L"\u604b\u306e\u3046\u305f\u2661.txt",
                                              error + inner + L"Ry\u016bichi \u301c\\", error + inner + deep.substr(0, 120) + L"\\"};
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(errors, expected);
        EXPECT_EQ(log.front(), L"8" + AnsiText(kCountLine));
        EXPECT_EQ(log.back(), L"6" + AnsiText(LoadResString(IDS_LOG_ERROR_COUNT)));
    }
    // The Unicode plug-in: every file, by its own name; a long path in the
    // \\?\ form that the file functions take.
    top.MakeDir("inner\\gone");
    Select("probe_w");
    SetWindowTextW(Control(IDC_MEMO_COMMENT), L"caf\u00e9 \u2661");
    ProbeLog probe;
    KesBatForm->Button_StartClick(Control(IDC_BUTTON_START));
    std::vector<std::string> written, expected = {WideHex(inner + L"a.txt"), WideHex(inner + L"dz\\y.txt")};
    for (const auto& w : probe.Writes()) {
        EXPECT_TRUE(w.Wide);
        EXPECT_EQ(w.CommentHex, WideHex(L"caf\u00e9 \u2661"));
        written.push_back(w.PathHex);
    }
    for (const std::wstring& path : odd) expected.push_back(WideHex(TFilePath(path).Win32()));
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

std::wstring WideText(int id) {
    wchar_t text[1024] = L"";
    GetWindowTextW(KesBatForm->Control(id), text, 1024);
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

// ---- The preview ----------------------------------------------------------------

namespace {

// A file as probe_rw keeps its comment: none when empty.
std::string Ktf(const std::wstring& comment) {
    return "KTF1" + std::string(reinterpret_cast<const char*>(comment.data()), comment.size() * sizeof(wchar_t)) +
           "END!";
}

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

std::wstring WideRes(int id) { return AnsiText(LoadResString(id)); }
std::wstring Refused(int reason) { return WideRes(IDS_PREVIEW_REFUSE) + L" (" + WideRes(reason) + L")"; }

void ForEachFile(const std::wstring& dir, const std::function<void(const std::wstring&, const WIN32_FIND_DATAW&)>& f) {
    WIN32_FIND_DATAW d;
    HANDLE h = FindFirstFileW((dir + L"*").c_str(), &d);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = d.cFileName;
        if (name == L"." || name == L"..") continue;
        if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ForEachFile(dir + name + L"\\", f);
        else
            f(dir + name, d);
    } while (FindNextFileW(h, &d));
    FindClose(h);
}

// Every file below dir, with its bytes and modification time.
using Snapshot = std::map<std::wstring, std::pair<std::string, ULONGLONG>>;
Snapshot TakeSnapshot(const std::wstring& dir) {
    Snapshot files;
    ForEachFile(dir, [&](const std::wstring& path, const WIN32_FIND_DATAW& d) {
        TFileContents contents;
        EXPECT_EQ(ReadWholeFile(TFilePath(path).Win32(), contents), TReadResult::Read);
        files[path] = {std::string(contents.View()),
                       ULONGLONG{d.ftLastWriteTime.dwHighDateTime} << 32 | d.ftLastWriteTime.dwLowDateTime};
    });
    return files;
}

// Dated years back, so that a rewrite shows even within the same second.
void AgeFiles(const std::wstring& dir) {
    ForEachFile(dir, [](const std::wstring& path, const WIN32_FIND_DATAW&) {
        CFileHandle file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     0, nullptr));
        const FILETIME old{0x12345678, 0x01c00000};
        EXPECT_TRUE(SetFileTime(file.Get(), nullptr, nullptr, &old));
    });
}

bool MenuGrayed(int id) {
    const UINT state = GetMenuState(GetMenu(KesBatForm->Handle), id, MF_BYCOMMAND);
    EXPECT_NE(state, static_cast<UINT>(-1)) << "no menu item " << id;
    return (state & MF_GRAYED) != 0;
}

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

    // Another program has the file open and lets nobody read it.
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
        {dir + L"locked.txt", {L"", Refused(IDS_REASON_OPEN_READ)}},
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
                                          {dir + L"caf\u00e9.txt", L"", Refused(IDS_PREVIEW_UNREACHABLE)}}))
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
