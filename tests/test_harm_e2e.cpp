// The real kes_bat.exe, driven through its window, where a run or an undo
// could reach a file it was not meant to: names whose plain form leads
// elsewhere, links to twins, a folder that became a link, a file another
// program holds or a plug-in deleted, a clock set back, a second window;
// and the waiting for a file held for a moment, which a run spends once.
// Every file inside and outside the chosen folder is compared before and
// after.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <thread>

#include "Handles.h"
#include "HeldRetry.h"
#include "KesDriver.h"
#include "Mbox_res.h"
#include "TestSupport.h"
#include "UnicodeFiles.h"
#include "kes_bat_ids.h"
#include "kes_bat_msg.h"
#include "kes_bat_texts.h"

using namespace kes_test;
using Lines = std::vector<std::wstring>;

namespace {

std::wstring Res(int id) { return AnsiText(LoadResString(id)); }
std::wstring ErrorLine(const std::wstring& path, int reason) {
    return AnsiText(KES_ERROR_PREFIX) + path + L" (" + Res(reason) + L")";
}
Lines Sorted(Lines lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
}
// The log's lines that begin with a text, without it, sorted.
Lines Starting(const TKesDriver& tool, int id) {
    Lines found;
    for (const std::wstring& line : tool.WideLogLines())
        if (line.rfind(Res(id), 0) == 0) found.push_back(line.substr(Res(id).size()));
    return Sorted(found);
}

using Plugins = std::vector<std::pair<std::string, std::string>>;

// kes_bat.exe with test plug-ins and the bundled ZIP plug-in, started.
struct TTool {
    explicit TTool(const Plugins& plugins) : tool(dir.Path(), plugins) {
        CopyFileA((ToolDir() + "kes_zip.cpi").c_str(), (dir / "kes_zip.cpi").c_str(), FALSE);
        EXPECT_TRUE(tool.Start());
    }
    ~TTool() {
        tool.PostMenu(IDM_EXIT);
        tool.WaitExit();
    }
    // Sets up a run of the type whose list item begins with `type`.
    void Prepare(const std::string& type, const std::wstring& folder, const std::wstring& comment, bool subDirs) {
        const std::vector<std::string> items = tool.ComboItems();
        const auto it = std::find_if(items.begin(), items.end(),
                                     [&](const std::string& item) { return item.rfind(type, 0) == 0; });
        ASSERT_NE(it, items.end()) << type;
        tool.ChooseCombo(static_cast<int>(it - items.begin()));
        tool.SetText(IDC_MEMO_COMMENT, comment);
        tool.SetText(IDC_EDIT_DIR, folder);
        tool.SetChecked(IDC_CHECKBOX_SUBDIR, subDirs);
    }
    // ...and runs it to its end.
    void Run(const std::string& type, const std::wstring& folder, const std::wstring& comment, bool subDirs = false) {
        Prepare(type, folder, comment, subDirs);
        tool.Click(IDC_BUTTON_START);  // returns when the run has ended
    }
    // ファイル → 元に戻す answered Yes; the question, once the undo has ended.
    std::string Undo() {
        tool.PostMenu(IDM_UNDO);
        TBox question;
        if (!tool.WaitBox(question)) return "(no question)";
        tool.AnswerDialog(IDYES);
        EXPECT_TRUE(WaitFor([&] {
            const Lines log = tool.WideLogLines();
            return tool.IsEnabled(IDC_BUTTON_START) && !log.empty() &&
                   (log.back() == Res(IDS_UNDO_COMPLETED) ||
                    log.back().find(Res(IDS_UNDO_LEFT_COUNT)) != std::wstring::npos);
        }, 30000));
        return question.Text;
    }
    // What ファイル → 元に戻す would take back now, declined.
    std::string NextUndo() {
        tool.PostMenu(IDM_UNDO);
        TBox box;
        if (!tool.WaitBox(box)) return "(no box)";
        tool.AnswerDialog(box.Caption == LoadResString(IDS_CAPTION_CONFIRM) ? IDNO : IDOK);
        return box.Text;
    }
    TempDir dir;
    TKesDriver tool;
};

// Whether each path (Windows) is a symbolic link, as this machine sees it.
std::string Links(const std::vector<std::wstring>& paths) {
    std::vector<std::string> unix;
    for (const std::wstring& path : paths) unix.push_back(UnixPath(path));
    return RunShell("for f in \"$@\"; do test -L \"$f\" && echo link || echo file; done", unix);
}

}  // namespace

// Folders "album." and "album" side by side, and a file named like a
// device. A plug-in of the code page is never handed a name whose plain
// form leads to another file or to a device; one with WriteCommentW gets
// each file by its own name, with a comment whose lone LFs became CR LF;
// the undo gives back each file, not its twin.
TEST(HarmE2E, NamesThePlainFormWouldChangeNeverLeadAPluginToAnotherFile) {
    ASSERT_EQ(GetACP(), 932u);
    CUnicodeDir top;
    const std::wstring music = top.Make(L"music\\"), album = top.Make(L"music\\album.\\");
    const Lines files = {album + L"track.txt", top.Make(L"music\\album\\track.txt"), music + L"aux.txt"};
    for (const std::wstring& file : files) PutFile(file, Ktf(file.substr(music.size())));
    PutFile(top.Path() + L"outside.txt", Ktf(L"outside"));
    AgeFiles(top.Path());
    const Snapshot before = TakeSnapshot(top.Path());

    TTool tool(Plugins{{"old_writer", "old_writer.cpi"}, {"probe_rw", "probe_rw.cpi"}});
    tool.Run("old_writer", album, L"new");
    EXPECT_EQ(tool.tool.WideLogLines(),
              (Lines{L"1" + Res(IDS_LOG_FILE_COUNT), ErrorLine(files[0], IDS_REASON_NAME_NOT_PLAIN),
                     Res(IDS_LOG_COMPLETED), L"1" + Res(IDS_LOG_ERROR_COUNT)}));
    tool.Run("old_writer", music, L"new");
    EXPECT_EQ(Sorted(tool.tool.WideLogLines()),
              Sorted({L"1" + Res(IDS_LOG_FILE_COUNT), ErrorLine(files[2], IDS_REASON_NAME_NOT_PLAIN),
                      Res(IDS_LOG_COMPLETED), L"1" + Res(IDS_LOG_ERROR_COUNT)}));
    EXPECT_EQ(Changes(before, TakeSnapshot(top.Path())), Lines{});

    // The run over "album." is kept as it was reached: its undo takes back
    // that folder's file, not the twin's.
    tool.Run("probe_rw", album, L"new");
    EXPECT_EQ(Changes(before, TakeSnapshot(top.Path())), Lines{files[0]});
    tool.Undo();
    EXPECT_EQ(tool.tool.WideLogLines().back(), Res(IDS_UNDO_COMPLETED));
    EXPECT_EQ(Changes(before, TakeSnapshot(top.Path())), Lines{});

    tool.Run("probe_rw", music, L"line 1\nline 2", true);
    EXPECT_EQ(tool.tool.WideLogLines(), (Lines{L"3" + Res(IDS_LOG_FILE_COUNT), Res(IDS_LOG_COMPLETED)}));
    for (const std::wstring& file : files) EXPECT_EQ(GetFile(file), Ktf(L"line 1\r\nline 2"));
    EXPECT_EQ(Sorted(Changes(before, TakeSnapshot(top.Path()))), Sorted(files));
    tool.Undo();
    EXPECT_EQ(tool.tool.WideLogLines().back(), Res(IDS_UNDO_COMPLETED));
    EXPECT_EQ(Changes(before, TakeSnapshot(top.Path())), Lines{});
}

// Links to files whose names differ by a trailing dot or blank, in one
// folder and across folders, look like their targets under Wine. The ZIP
// run leaves links and targets as they were; only the plain file is
// written. A comment too long for the format says so.
TEST(HarmE2E, LinksToTwinsAreRefusedAndNothingIsDeleted) {
    CUnicodeDir top;
    const std::wstring zips = top.Make(L"zips\\");
    for (const wchar_t* name : {L"archive.zip.", L"other.zip ", L"view.\\song.zip", L"plain.zip"})
        PutFile(top.Make(std::wstring(L"zips\\") + name), Sample("commented.zip"));
    PutFile(top.Path() + L"outside.zip", Sample("commented.zip"));
    top.Make(L"zips\\view\\");
    ASSERT_EQ(RunShell("cd \"$1\" && ln -s archive.zip. archive.zip && ln -s 'other.zip ' other.zip &&"
                    " ln -s ../view./song.zip view/song.zip && echo made",
                    {UnixPath(zips)}),
              "made\n");
    const Lines links = {zips + L"archive.zip", zips + L"other.zip", zips + L"view\\song.zip"};
    const Snapshot before = TakeSnapshot(top.Path());

    TTool tool(Plugins{});
    tool.Run("ZIP", zips, L"note", true);
    Lines expected = {L"5" + Res(IDS_LOG_FILE_COUNT), Res(IDS_LOG_COMPLETED), L"4" + Res(IDS_LOG_ERROR_COUNT)};
    for (const std::wstring& refused : {links[0], links[1], links[2], zips + L"view.\\song.zip"})
        expected.push_back(ErrorLine(refused, IDS_REASON_FILE_FAILED));
    EXPECT_EQ(Sorted(tool.tool.WideLogLines()), Sorted(expected));
    EXPECT_EQ(Changes(before, TakeSnapshot(top.Path())), Lines{zips + L"plain.zip"});
    EXPECT_EQ(Links(links), "link\nlink\nlink\n");
    tool.Undo();
    EXPECT_EQ(tool.tool.WideLogLines().back(), Res(IDS_UNDO_COMPLETED));
    EXPECT_EQ(Changes(before, TakeSnapshot(top.Path())), Lines{});
    EXPECT_EQ(Links(links), "link\nlink\nlink\n");

    tool.Run("ZIP", zips, std::wstring(65536, L'x'));
    const Lines log = tool.tool.WideLogLines();
    EXPECT_NE(std::find(log.begin(), log.end(), ErrorLine(zips + L"plain.zip", IDS_REASON_COMMENT_TOO_LONG)),
              log.end());
    EXPECT_EQ(Changes(before, TakeSnapshot(top.Path())), Lines{});
}

// An undo puts back only the very file the run left, where it left it. A
// twin "y" of the run's "y." that holds a copy of the result is never
// touched; a copy put in a file's place, a file reached through a folder
// that has become a link (even to the folder itself), and one another
// program holds are left and listed, and the same run is offered again:
// once the folder is back and the file let go, the next undo puts them
// back, and a file the user has since replaced is given up.
TEST(HarmE2E, TheUndoPutsBackOnlyTheFilesTheRunWroteWhereItWroteThem) {
    CUnicodeDir top;
    const std::wstring dotted = top.Make(L"y.\\d.txt"), linked = top.Make(L"d\\a.txt"), held = top.Path() + L"held.txt",
                       copied = top.Path() + L"e.txt";
    for (const std::wstring& file : {dotted, linked, held, copied}) PutFile(file, Ktf(L"old"));
    AgeFiles(top.Path());
    const Snapshot before = TakeSnapshot(top.Path());
    TTool tool(Plugins{{"probe_rw", "probe_rw.cpi"}});
    tool.Run("probe_rw", top.Path(), L"new", true);
    ASSERT_EQ(Changes(before, TakeSnapshot(top.Path())).size(), 4u);

    const std::wstring twin = top.Make(L"y\\d.txt");
    ASSERT_TRUE(CopyFileW(TFilePath(dotted).Win32().c_str(), twin.c_str(), TRUE));
    ASSERT_TRUE(CopyFileW(copied.c_str(), (copied + L".copy").c_str(), TRUE) && DeleteFileW(copied.c_str()) &&
                MoveFileW((copied + L".copy").c_str(), copied.c_str()));
    ASSERT_EQ(RunShell("cd \"$1\" && mv d moved && ln -s moved d && echo made", {UnixPath(top.Path())}), "made\n");
    const Snapshot left = TakeSnapshot(top.Path());
    {
        CFileHandle holder(CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder.IsOpen());
        tool.Undo();
    }
    EXPECT_EQ(Starting(tool.tool, IDS_UNDO_LEFT_MOVED), Sorted({linked, copied}));
    EXPECT_EQ(Starting(tool.tool, IDS_UNDO_LEFT_HELD), Lines{held});
    EXPECT_EQ(Changes(left, TakeSnapshot(top.Path())), Lines{dotted});
    EXPECT_EQ(GetFile(dotted), Ktf(L"old"));

    ASSERT_EQ(RunShell("cd \"$1\" && rm d && mv moved d && echo back", {UnixPath(top.Path())}), "back\n");
    PutFile(copied, "a new file of the user's");
    EXPECT_NE(tool.Undo().find(Narrow(top.Path())), std::string::npos);
    EXPECT_EQ(Starting(tool.tool, IDS_UNDO_LEFT_CHANGED), Lines{copied});
    Snapshot after = TakeSnapshot(top.Path());
    EXPECT_EQ(after.at(twin), left.at(twin));
    for (const std::wstring& path : {twin, copied}) after.erase(path);
    EXPECT_EQ(Changes(before, after), Lines{copied + L" (gone)"});
    // Done with: the next undo reaches an older run, if any.
    EXPECT_EQ(tool.NextUndo().find(Narrow(top.Path())), std::string::npos);
}

// An old plug-in that deletes its file, answering 3 or even 0: the tool
// makes it anew from the bytes it read, with its time and attributes,
// says so, and keeps its record.
TEST(HarmE2E, AFileThePluginDeletedIsMadeAnewAsItWas) {
    CUnicodeDir top;
    PutFile(top.Path() + L"three.txt", "DEL3 contents");
    PutFile(top.Path() + L"zero.txt", "DEL0 contents");
    AgeFiles(top.Path());
    ASSERT_TRUE(SetFileAttributesW((top.Path() + L"zero.txt").c_str(), FILE_ATTRIBUTE_HIDDEN));
    const DWORD hidden = GetFileAttributesW((top.Path() + L"zero.txt").c_str());
    const Snapshot before = TakeSnapshot(top.Path());
    TTool tool(Plugins{{"old_deleter", "old_deleter.cpi"}});
    tool.Run("old_deleter", top.Path(), L"new");
    EXPECT_EQ(Sorted(tool.tool.WideLogLines()),
              Sorted({L"2" + Res(IDS_LOG_FILE_COUNT), ErrorLine(top.Path() + L"three.txt", IDS_REASON_DELETED_RESTORED),
                      ErrorLine(top.Path() + L"zero.txt", IDS_REASON_DELETED_RESTORED), Res(IDS_LOG_COMPLETED),
                      L"2" + Res(IDS_LOG_ERROR_COUNT)}));
    EXPECT_EQ(Changes(before, TakeSnapshot(top.Path())), Lines{});
    EXPECT_EQ(GetFileAttributesW((top.Path() + L"zero.txt").c_str()), hidden);
    EXPECT_NE(tool.Undo().find(Narrow(top.Path())), std::string::npos);
    EXPECT_EQ(tool.tool.WideLogLines().back(), Res(IDS_UNDO_COMPLETED));
}

// Journals stamped ahead of the clock, as a clock set back leaves them,
// do not push the new run's journal out. While the run is still being
// written, an undo in a second window says so and sets nothing aside;
// once it has ended, that window takes it back.
TEST(HarmE2E, TheRunsJournalOutlivesAClockSetBackAndASecondWindowWaitsForIt) {
    wchar_t appData[MAX_PATH];
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData), S_OK);
    const std::wstring journals = std::wstring(appData) + L"\\Kestrane\\";
    CreateDirectoryW(journals.c_str(), nullptr);
    Lines ahead;
    for (int i = 0; i < 12; ++i)
        PutFile(ahead.emplace_back(journals + L"run-7FFFFFFF000000" + std::to_wstring(10 + i) + L".kju"), "old");

    CUnicodeDir top;
    // The run writes a.txt, then waits inside sub\\b.txt: subfolders come last.
    PutFile(top.Path() + L"a.txt", Ktf(L"old"));
    PutFile(top.Make(L"sub\\b.txt"), "WAIT");
    AgeFiles(top.Path());
    const Snapshot before = TakeSnapshot(top.Path());
    const std::string gate = "kes_gate_harm_" + std::to_string(GetCurrentProcessId());
    SetEnvironmentVariableA("KES_GATE", gate.c_str());
    CFileHandle reached(CreateEventA(nullptr, TRUE, FALSE, (gate + "_reached").c_str()));
    CFileHandle open(CreateEventA(nullptr, TRUE, FALSE, (gate + "_open").c_str()));
    {
        TTool first(Plugins{{"gate_rw", "gate_rw.cpi"}}), second({});
        first.Prepare("gate_rw", top.Path(), L"new", true);
        first.tool.PostClick(IDC_BUTTON_START);
        ASSERT_EQ(WaitForSingleObject(reached.Get(), 30000), WAIT_OBJECT_0);
        const std::vector<std::wstring> live = NamesIn(journals);
        second.tool.PostMenu(IDM_UNDO);
        EXPECT_EQ(AnsiText(second.tool.ExpectBox().Text), Res(IDS_UNDO_IN_USE));
        EXPECT_EQ(NamesIn(journals), live);
        SetEvent(open.Get());
        ASSERT_TRUE(first.tool.WaitEnabled(IDC_BUTTON_START, 30000));
        EXPECT_NE(second.Undo().find(Narrow(top.Path())), std::string::npos);
    }
    EXPECT_EQ(Changes(before, TakeSnapshot(top.Path())), Lines{});
    for (const std::wstring& old : ahead) DeleteFileW(old.c_str());
    SetEnvironmentVariableA("KES_GATE", nullptr);
}

// Scanners, indexers and sync engines open a file for a moment just as the
// run reaches it: the run waits for them, whether they keep it from being
// read or only from being replaced, and writes the file with no error. A
// file that stays held, and every other file left as it was, is listed
// with why.
TEST(HarmE2E, AFileHeldForAMomentIsWrittenAndEveryFileLeftSaysWhy) {
    TTool tool(Plugins{{"plan_rw", "plan_rw.cpi"}});
    for (const DWORD share : {DWORD{0}, DWORD{FILE_SHARE_READ}}) {
        CUnicodeDir top;
        const std::wstring file = top.Path() + L"held.txt";
        PutFile(file, Ktf(L"old"));
        CFileHandle holder(CreateFileW(file.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder.IsOpen());
        std::thread release([&] {
            Sleep(300);
            holder.Close();
        });
        tool.Run("plan_rw", top.Path(), L"new");
        release.join();
        EXPECT_EQ(tool.tool.WideLogLines(), (Lines{L"1" + Res(IDS_LOG_FILE_COUNT), Res(IDS_LOG_COMPLETED)})) << share;
        EXPECT_EQ(GetFile(file), Ktf(L"new")) << share;
    }

    CUnicodeDir top;
    const struct {
        const wchar_t* name;
        std::string contents;
        int reason;
    } kLeft[] = {
        {L"kept.txt", Ktf(L"old"), IDS_REASON_HELD},  // held all along, named where the system can
        {L"fail.txt", "FAIL: a comment this file cannot hold", IDS_REASON_COMMENT_NOT_HELD},
        {L"readonly.txt", Ktf(L"old"), IDS_REASON_READ_ONLY},
    };
    Lines expected = {L"3" + Res(IDS_LOG_FILE_COUNT), Res(IDS_LOG_COMPLETED), L"3" + Res(IDS_LOG_ERROR_COUNT)};
    for (const auto& left : kLeft) {
        PutFile(top.Path() + left.name, left.contents);
        expected.push_back(ErrorLine(top.Path() + left.name, left.reason));
    }
    ASSERT_TRUE(SetFileAttributesW((top.Path() + L"readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    const Snapshot before = TakeSnapshot(top.Path());
    CFileHandle holder(
        CreateFileW((top.Path() + L"kept.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder.IsOpen());
    tool.Run("plan_rw", top.Path(), L"new");
    holder.Close();
    EXPECT_EQ(Sorted(tool.tool.WideLogLines()), Sorted(expected));
    EXPECT_EQ(Changes(before, TakeSnapshot(top.Path())), Lines{});
}

// A held file is tried again until it is let go; a run's waiting is one
// budget of about a second, so that once it is spent a file that stays
// held costs one try. Any other error is final at once.
TEST(HeldRetry, ARunsFilesWaitAboutASecondInAll) {
    kes::CHeldRetry retry;
    int tries = 0;
    const DWORD start = GetTickCount();
    EXPECT_EQ(retry.Run([&]() -> DWORD { return ++tries < 3 ? ERROR_SHARING_VIOLATION : ERROR_SUCCESS; }),
              DWORD{ERROR_SUCCESS});
    EXPECT_EQ(tries, 3);
    EXPECT_EQ(retry.Run([]() -> DWORD { return ERROR_LOCK_VIOLATION; }), DWORD{ERROR_LOCK_VIOLATION});
    EXPECT_GE(GetTickCount() - start, 950u);
    for (const DWORD error : {DWORD{ERROR_SHARING_VIOLATION}, DWORD{ERROR_ACCESS_DENIED}}) {
        kes::CHeldRetry fresh;
        kes::CHeldRetry& used = error == ERROR_SHARING_VIOLATION ? retry : fresh;
        tries = 0;
        EXPECT_EQ(used.Run([&]() -> DWORD { return ++tries, error; }), error);
        EXPECT_EQ(tries, 1) << error;
    }
}
