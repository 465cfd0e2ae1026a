// The main window of this test program, created once and driven in-process
// over real folder trees with the real test plug-ins beside it. Only the
// Escape key, the dispatch step, the sound, the clock and where journals go
// pass through a scripted environment, so that Escape can be held at
// exactly one poll.
#ifndef KESTRANE_BATCH_RUN_FIXTURE_H
#define KESTRANE_BATCH_RUN_FIXTURE_H

#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Application.h"
#include "TestSupport.h"
#include "kes_bat_form.h"
#include "kes_bat_ids.h"
#include "kes_bat_texts.h"

using Lines = std::vector<std::string>;

// A folder for journals that lives as long as the test program.
std::wstring TestJournalFolder();

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
    // Where the runs' journals go: a folder of the test program's own
    // unless a test gives another.
    std::wstring Journals = TestJournalFolder();
    std::wstring JournalFolder() override { return Journals; }
    // The programs that hold a file, by its path, in place of the Restart
    // Manager's, which Wine only stubs: none unless a test names some.
    std::function<std::wstring(const std::wstring&)> Holders;
    std::wstring HolderOf(const TFilePath& path) override { return Holders ? Holders(path.Text()) : std::wstring(); }
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
            paths.push_back((e.Kind == TQueued::Write ? "" : KES_ERROR_PREFIX) + kes_test::Narrow(e.Path.Text()));
        return paths;
    }
    // Collects as a run does, for the type chosen and the folder given.
    Lines Collect(const std::string& dir, bool subDirs) {
        KesBatForm->FileList->clear();
        EXPECT_TRUE(KesBatForm->CollectFiles(kes_test::AnsiPath(dir), subDirs));
        return Queue();
    }
    static std::unique_ptr<TKesBatForm> form_;
    TScriptedEnvironment env_;
    TRunEnvironment platform_;
};


extern const std::string kCountLine, kSearching;

// An absolute path in the \\?\ form, which the file functions take at
// any length: built here, so that no test expects what the code under test
// made.
inline std::wstring LongForm(const std::wstring& absolute) { return L"\\\\?\\" + absolute; }
// Makes a file (and the folders above it) whose path holds any characters.
std::wstring MakeWideFile(const std::wstring& path, const std::string& bytes = "x");
std::vector<std::wstring> WideLog();
std::wstring WideText(int id);
std::wstring WideRes(int id);

bool MenuGrayed(int id);

// Answers the next box (or dialog) of the main window with `button` from
// another thread, as a user would while the window waits in it; its text
// goes to `text`.
std::thread AnswerBox(int button, std::wstring* text = nullptr);

#endif
