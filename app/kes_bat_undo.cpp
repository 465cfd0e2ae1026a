// Taking a run back: ファイル → 元に戻す puts every file of the newest run not
// yet undone back as it was, from the run's journal, with progress and
// Escape as a run has.
#include <cstdio>

#include "Application.h"
#include "Kes_bat_data.h"
#include "Mbox_res.h"
#include "PathText.h"
#include "WholeFile.h"
#include "kes_bat_form.h"
#include "kes_bat_ids.h"
#include "kes_bat_msg.h"
#include "kes_bat_step.h"
#include "kes_bat_texts.h"

using namespace kes::journal;

namespace {

// A journal's time (UTC) as the user's clock shows it.
std::wstring LocalTime(uint64_t utc) {
    const FILETIME file = ToFileTime(utc);
    FILETIME local;
    SYSTEMTIME t;
    if (!FileTimeToLocalFileTime(&file, &local) || !FileTimeToSystemTime(&local, &t)) return std::wstring();
    wchar_t text[32];
    std::swprintf(text, 32, L"%04u/%02u/%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond);
    return text;
}

// The log line of a file that an undo left, and why.
int LeftLine(TUndone undone) {
    switch (undone) {
        case TUndone::Changed: return IDS_UNDO_LEFT_CHANGED;
        case TUndone::Damaged: return IDS_UNDO_LEFT_DAMAGED;
        case TUndone::Moved: return IDS_UNDO_LEFT_MOVED;
        case TUndone::Held: return IDS_UNDO_LEFT_HELD;
        default: return IDS_UNDO_LEFT_FAILED;
    }
}

}  // namespace

void TKesBatForm::Menu_UndoClick(HWND) {
    if (running_) return;
    JournalStore store(RunEnvironment->JournalFolder());
    const std::optional<RunFile> run = store.NewestNotUndone();
    if (!run) {
        MsgBoxRes(IDS_UNDO_NOTHING, IDS_CAPTION_INFO, MB_ICONINFORMATION);
        return;
    }
    std::unique_ptr<FileSource> source = FileSource::Open(run->path);
    // Another window of the tool is writing it: intact, only not finished.
    if (!source && GetLastError() == ERROR_SHARING_VIOLATION) {
        MsgBoxRes(IDS_UNDO_IN_USE, IDS_CAPTION_WARNING, MB_ICONEXCLAMATION);
        return;
    }
    std::optional<JournalReader> journal;
    if (source) journal = JournalReader::Open(*source);
    if (!journal) {
        MsgBoxRes(IDS_UNDO_UNREADABLE, IDS_CAPTION_WARNING, MB_ICONEXCLAMATION);
        // Nothing of it can ever be trusted: it is set aside, so that the
        // next undo reaches the run before it.
        source.reset();
        store.MarkUndone(*run);
        return;
    }
    const RunInfo& info = journal->Info();
    const std::wstring question =
        FillIn(WidePath(LoadResString(IDS_UNDO_CONFIRM)),
               {LocalTime(info.startTime), ToWide(info.folder), ToWide(info.typeDescription),
                std::to_wstring(journal->Files().size())});
    const std::wstring caption = WidePath(LoadResString(IDS_CAPTION_CONFIRM));
    if (MessageBoxW(Handle, question.c_str(), caption.c_str(), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
        return;

    ResetProgress();
    SetRunning(true);
    bool completed = false;
    EndRunAfter([&] { completed = UndoRun(*journal); });
    // Marked undone only once nothing of it is left to put back: an undo
    // that was stopped, or that left a file another program held or that
    // was not where the run left it, is taken up again by the next one,
    // which passes over the files already back as they were.
    source.reset();
    if (completed) store.MarkUndone(*run);
}

bool TKesBatForm::UndoRun(const JournalReader& journal) {
    const std::vector<FileEntry>& files = journal.Files();
    StartProgress(files.size(), IDS_UNDO_FILE_COUNT);
    // Records after a damaged one cannot be trusted, nor found: the files
    // they were for are not known.
    if (journal.End() == JournalEnd::Damaged) AddLog(LoadResString(IDS_UNDO_JOURNAL_DAMAGED));
    int left = 0;
    bool remains = false;
    FileIdentities identities;
    // Newest first: a file that the run wrote twice goes back through each
    // of its states in turn.
    for (auto file = files.rbegin(); file != files.rend(); ++file) {
        if (closeRequested_) {
            StopProgress();
            return false;
        }
        const TUndone undone = TFileStep::Undo(*file, journal, identities);
        if (undone != TUndone::Restored && undone != TUndone::AlreadyBefore) {
            AddLog(WidePath(LoadResString(LeftLine(undone))) + ToWide(file->path));
            ++left;
            remains = remains || Remains(undone);
        }
        if (RunEnvironment->EscapePressed()) {
            StopProgress();
            return false;
        }
        AdvanceProgress(file + 1 == files.rend());
    }
    AddLog(LoadResString(IDS_UNDO_COMPLETED));
    if (left != 0) AddLog(std::to_string(left) + LoadResString(IDS_UNDO_LEFT_COUNT));
    RunEnvironment->Beep(MB_OK);
    return !remains;
}
