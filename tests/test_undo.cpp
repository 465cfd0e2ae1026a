// Checking every written file, keeping a journal of every run, and taking a
// run back, in the real window of this test program with test plug-ins
// that really rewrite their files.
#include "BatchRunFixture.h"

#include <algorithm>

#include "Handles.h"
#include "Kes_bat_data.h"
#include "Mbox_res.h"
#include "kes_bat_msg.h"

using namespace kes_test;

namespace {

const std::wstring kNew = L"new \u2661";

// A tree of files as probe_rw and old_writer keep them, dated years back.
std::wstring MakeTree(const TempDir& top) {
    const std::wstring dir = AnsiText(top.Path());
    for (const wchar_t* name : {L"a.txt", L"sub\\b.txt", L"changed.txt", L"deleted.txt", L"renamed.txt"})
        MakeWideFile(dir + name, Ktf(std::wstring(L"old ") + name));
    MakeWideFile(dir + L"same.txt", Ktf(kNew));  // already carries the comment
    AgeFiles(dir);
    return dir;
}

std::vector<std::wstring> LogLinesStartingWith(int id) {
    std::vector<std::wstring> found;
    const std::wstring start = WideRes(id);
    for (const std::wstring& line : WideLog())
        if (line.compare(0, start.size(), start) == 0) found.push_back(line.substr(start.size()));
    std::sort(found.begin(), found.end());
    return found;
}

}  // namespace

class Undo : public BatchRun {
protected:
    void SetUp() override {
        BatchRun::SetUp();
        // A store of its own, so that the newest run is this test's.
        env_.Journals = AnsiText(journals_.Path()) + L"Kestrane";
        SendMessageA(Control(IDC_CHECKBOX_SUBDIR), BM_SETCHECK, BST_CHECKED, 0);
    }
    // Undoes the newest run, answering its question; the question's text.
    std::wstring UndoNewest(int answer = IDYES) {
        std::wstring question;
        std::thread user = AnswerBox(answer, &question);
        KesBatForm->Menu_UndoClick(nullptr);
        user.join();
        return question;
    }
    TempDir journals_;
};

// The same for a plug-in that reads comments and for one that neither
// reads nor writes Unicode, as plug-ins users own are: the undo does not
// depend on the plug-in.
TEST_F(Undo, AWholeRunGoesBackByteForByteAndWhatChangedSinceIsLeftAndListed) {
    for (const char* plugin : {"probe_rw", "old_writer"}) {
        SCOPED_TRACE(plugin);
        TempDir top;
        const std::wstring dir = MakeTree(top);
        const Snapshot before = TakeSnapshot(dir);
        Select(plugin);
        SetWindowTextW(Control(IDC_MEMO_COMMENT), plugin == std::string("probe_rw") ? kNew.c_str() : L"new");
        SetWindowTextW(Control(IDC_EDIT_DIR), dir.c_str());
        KesBatForm->Button_StartClick(Control(IDC_BUTTON_START));
        ASSERT_EQ(WideLog().back(), WideRes(IDS_LOG_COMPLETED));
        const Snapshot written = TakeSnapshot(dir);
        ASSERT_NE(written.at(dir + L"a.txt"), before.at(dir + L"a.txt"));

        // Since the run: one file changed, one deleted, one renamed.
        MakeWideFile(dir + L"changed.txt", "changed by the user");
        ASSERT_TRUE(DeleteFileW((dir + L"deleted.txt").c_str()));
        ASSERT_TRUE(MoveFileW((dir + L"renamed.txt").c_str(), (dir + L"renamed2.txt").c_str()));

        // Asked first, naming the run: declining changes nothing.
        const std::wstring question = UndoNewest(IDNO);
        EXPECT_NE(question.find(dir), std::wstring::npos) << question;
        EXPECT_NE(question.find(AnsiText(KesBat.GetDescription(static_cast<int>(
                      SendMessageA(Control(IDC_COMBOBOX_EXT), CB_GETCURSEL, 0, 0))))),
                  std::wstring::npos)
            << question;
        EXPECT_EQ(TakeSnapshot(dir).at(dir + L"a.txt"), written.at(dir + L"a.txt"));
        UndoNewest();

        const Snapshot after = TakeSnapshot(dir);
        for (const wchar_t* name : {L"a.txt", L"sub\\b.txt", L"same.txt"})
            EXPECT_EQ(after.at(dir + name), before.at(dir + name)) << name;  // bytes and time
        EXPECT_EQ(after.at(dir + L"changed.txt").first, "changed by the user");
        EXPECT_EQ(after.count(dir + L"deleted.txt"), 0u);
        EXPECT_EQ(after.at(dir + L"renamed2.txt"), written.at(dir + L"renamed.txt"));
        EXPECT_EQ(LogLinesStartingWith(IDS_UNDO_LEFT_CHANGED), std::vector<std::wstring>{dir + L"changed.txt"});
        EXPECT_EQ(LogLinesStartingWith(IDS_UNDO_LEFT_MOVED),
                  (std::vector<std::wstring>{dir + L"deleted.txt", dir + L"renamed.txt"}));
        EXPECT_EQ(WideLog().back(), L"3" + WideRes(IDS_UNDO_LEFT_COUNT));

        // What was moved away may come back: the same run is offered again
        // and takes what remains. A new file in a deleted one's place is
        // the user's, and with it nothing remains to put back.
        ASSERT_TRUE(MoveFileW((dir + L"renamed2.txt").c_str(), (dir + L"renamed.txt").c_str()));
        MakeWideFile(dir + L"deleted.txt", "a new file of the user's");
        EXPECT_NE(UndoNewest().find(dir), std::wstring::npos);
        EXPECT_EQ(TakeSnapshot(dir).at(dir + L"renamed.txt"), before.at(dir + L"renamed.txt"));
        EXPECT_EQ(LogLinesStartingWith(IDS_UNDO_LEFT_CHANGED),
                  (std::vector<std::wstring>{dir + L"changed.txt", dir + L"deleted.txt"}));
        // Undone: the next undo has nothing to take back.
        std::wstring nothing;
        std::thread user = AnswerBox(IDOK, &nothing);
        KesBatForm->Menu_UndoClick(nullptr);
        user.join();
        EXPECT_EQ(nothing, WideRes(IDS_UNDO_NOTHING));
    }
}

// After a plug-in reports success (or success with a backup left beside)
// the file is read back: a comment that reads back wrong (in a file of over
// 16 MiB too, read through a view of it), or a file cut short, is put back
// byte for byte with its time, and the run says so.
TEST_F(Undo, AFileThatDoesNotReadBackAsWrittenIsPutBack) {
    for (const char* plugin : {"wrong_rw", "wrong_big_rw", "trunc_rw", "backup_rw"}) {
        SCOPED_TRACE(plugin);
        TempDir top;
        const std::wstring dir = AnsiText(top.Path());
        MakeWideFile(dir + L"a.txt", Ktf(L"old"));
        AgeFiles(dir);
        const Snapshot before = TakeSnapshot(dir);
        Select(plugin);
        SetWindowTextW(Control(IDC_MEMO_COMMENT), kNew.c_str());
        SetWindowTextW(Control(IDC_EDIT_DIR), dir.c_str());
        KesBatForm->Button_StartClick(Control(IDC_BUTTON_START));
        EXPECT_TRUE(TakeSnapshot(dir) == before);  // not printed: one file is of 17 MiB
        const std::vector<std::wstring> log = WideLog();
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(log[1], AnsiText(KES_ERROR_PREFIX) + dir + L"a.txt (" + WideRes(IDS_REASON_CHECK_RESTORED) + L")");
    }
}

// No file may stay changed without its record: when none can be kept, the
// file is put back and the run stops at once, with a message.
TEST_F(Undo, WithoutARecordNoFileStaysChangedAndTheRunStops) {
    TempDir top;
    const std::wstring dir = AnsiText(top.Path());
    MakeWideFile(dir + L"1.txt", Ktf(L"one"));
    MakeWideFile(dir + L"2.txt", Ktf(L"two"));
    AgeFiles(dir);
    const Snapshot before = TakeSnapshot(dir);
    // A folder that cannot be made: its parent is a file.
    env_.Journals = AnsiText(top.MakeFile("not a folder")) + L"\\Kestrane";
    Select("probe_rw");
    SetWindowTextW(Control(IDC_MEMO_COMMENT), kNew.c_str());
    SetWindowTextW(Control(IDC_EDIT_DIR), dir.c_str());
    ProbeLog probe;
    std::wstring message;
    std::thread user = AnswerBox(IDOK, &message);
    KesBatForm->Button_StartClick(Control(IDC_BUTTON_START));
    user.join();
    EXPECT_EQ(message, WideRes(IDS_NO_RECORD));
    EXPECT_EQ(probe.Writes().size(), 1u);  // the second file is never handed over
    Snapshot after = TakeSnapshot(dir);
    after.erase(dir + L"not a folder");
    EXPECT_EQ(after, before);
    const std::vector<std::wstring> log = WideLog();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_NE(log[1].find(WideRes(IDS_REASON_NO_RECORD)), std::wstring::npos) << log[1];
    EXPECT_EQ(log[2], WideRes(IDS_LOG_STOPPED));
}

// A journal cut short or with a flipped byte never puts wrong bytes into a
// file: the file stays as the run left it, and is listed.
TEST_F(Undo, ADamagedJournalLeavesTheFilesAsTheRunLeftThem) {
    for (const bool truncate : {false, true}) {
        SCOPED_TRACE(truncate ? "truncated" : "flipped");
        TempDir top;
        const std::wstring dir = AnsiText(top.Path());
        MakeWideFile(dir + L"a.txt", Ktf(L"old"));
        Select("probe_rw");
        SetWindowTextW(Control(IDC_MEMO_COMMENT), kNew.c_str());
        SetWindowTextW(Control(IDC_EDIT_DIR), dir.c_str());
        KesBatForm->Button_StartClick(Control(IDC_BUTTON_START));
        const Snapshot written = TakeSnapshot(dir);

        // The run's journal: its last bytes belong to the file's record.
        const Snapshot journals = TakeSnapshot(env_.Journals + L"\\");
        ASSERT_FALSE(journals.empty());
        const std::wstring journal = journals.rbegin()->first;
        std::string bytes = journals.rbegin()->second.first;
        if (truncate)
            bytes.resize(bytes.size() - 3);
        else
            bytes[bytes.size() - 3] ^= 0x20;
        MakeWideFile(journal, bytes);

        // The header is intact, so the run is offered; a record that fails
        // its checks is no record, and nothing is written from it.
        EXPECT_FALSE(UndoNewest().empty());
        EXPECT_EQ(TakeSnapshot(dir), written);
        EXPECT_EQ(LogLinesStartingWith(IDS_UNDO_LEFT_DAMAGED), std::vector<std::wstring>{dir + L"a.txt"});
        EXPECT_EQ(WideLog().back(), L"1" + WideRes(IDS_UNDO_LEFT_COUNT));
    }
}

// Escape stops an undo after the file at hand; the next undo takes the run
// up again, passing over what is already back, and lists nothing for it.
TEST_F(Undo, AnUndoStoppedWithEscapeIsTakenUpAgainByTheNext) {
    TempDir top;
    const std::wstring dir = AnsiText(top.Path());
    for (const wchar_t* name : {L"1.txt", L"2.txt", L"3.txt"}) MakeWideFile(dir + name, Ktf(name));
    AgeFiles(dir);
    const Snapshot before = TakeSnapshot(dir);
    Select("probe_rw");
    SetWindowTextW(Control(IDC_MEMO_COMMENT), kNew.c_str());
    SetWindowTextW(Control(IDC_EDIT_DIR), dir.c_str());
    KesBatForm->Button_StartClick(Control(IDC_BUTTON_START));
    const Snapshot written = TakeSnapshot(dir);

    TScriptedEnvironment escape;
    escape.Journals = env_.Journals;
    escape.EscapeAtWritePoll = 1;
    KesBatForm->RunEnvironment = &escape;
    UndoNewest();
    EXPECT_EQ(WideLog().back(), WideRes(IDS_LOG_STOPPED));
    int back = 0;
    for (const auto& [path, state] : TakeSnapshot(dir)) back += state == before.at(path) ? 1 : 0;
    EXPECT_EQ(back, 1);

    KesBatForm->RunEnvironment = &env_;
    UndoNewest();
    EXPECT_EQ(TakeSnapshot(dir), before);
    const std::vector<std::wstring> log = WideLog();
    EXPECT_EQ(log, (std::vector<std::wstring>{L"3" + WideRes(IDS_UNDO_FILE_COUNT), WideRes(IDS_UNDO_COMPLETED)}));
}
