// The batch run as the main window shows it: its checks before it starts,
// the log, the counter and the bar, and Escape to stop it. Collecting the
// files and writing them is the engine's (engine/Engine.h).
#include "kes_bat_form.h"

#include <commctrl.h>

#include "Application.h"
#include "Kes_bat_data.h"
#include "Mbox_res.h"
#include "PathText.h"
#include "Step.h"
#include "TextFile.h"
#include "kes_bat_ids.h"
#include "kes_bat_msg.h"
#include "kes_bat_texts.h"

namespace {
// What a journal tells of its run: when, and with which plug-in (the folder
// is the recorder's).
kes::journal::RunInfo JournalInfo(int index) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    kes::journal::RunInfo info;
    info.startTime = static_cast<uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
    info.typeDescription = kes::journal::ToU16(WidePath(KesBat.GetDescription(index)));
    info.pluginFile = kes::journal::ToU16(KesBat.GetModulePath(index).Name());
    return info;
}
}  // namespace

void TKesBatForm::Button_StartClick(HWND) {
    // A preview reads through the one plug-in slot until it ends.
    if (running_) return;
    if (!CheckTargetDir()) return;
    if (!CheckCommentFits()) return;
    if (!KesBat.PrepareWrite(SelectedIndex())) {
        MsgBoxRes(IDS_PLUGIN_LOAD_FAILED, IDS_CAPTION_WARNING, MB_ICONEXCLAMATION);
        return;
    }
    ResetProgress();
    SetRunning(true);
    EndRunAfter([this] { RunBatch(); });
}

void TKesBatForm::EndRunAfter(const std::function<void()>& work) {
    try {
        work();
    } catch (...) {
        EndRun();
        throw;
    }
    EndRun();
}

// Whatever way the run ended: the window is usable again, the plug-in is
// released, and a close asked for during the run is carried out now.
void TKesBatForm::EndRun() {
    SetRunning(false);
    KesBat.ReleasePlugin();
    if (closeRequested_) PostMessageA(Handle, WM_CLOSE, 0, 0);
}

bool TKesBatForm::CheckTargetDir() {
    const DWORD attributes = GetFileAttributesW(TFilePath(Text(IDC_EDIT_DIR)).Win32().c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
    MsgBoxRes(IDS_DIR_MISSING, IDS_CAPTION_WARNING, MB_ICONEXCLAMATION);
    return false;
}

bool TKesBatForm::CheckCommentFits() {
    std::string codePage;
    if (KesBat.IsUnicode(SelectedIndex()) || ExactText(Text(IDC_MEMO_COMMENT), codePage)) return true;
    MsgBoxRes(IDS_COMMENT_NOT_IN_CODE_PAGE, IDS_CAPTION_WARNING, MB_ICONEXCLAMATION);
    return false;
}

void TKesBatForm::ResetProgress() {
    SendMessageA(Control(IDC_LISTBOX_LOG), LB_RESETCONTENT, 0, 0);
    SetLabelCount("0 / 0");
    SendMessageA(Control(IDC_PROGRESSBAR_COUNT), PBM_SETPOS, 0, 0);
}

void TKesBatForm::RunBatch() {
    AddLog(LoadResString(IDS_LOG_SEARCHING));
    if (!CollectRunFiles()) {
        RunEnvironment->Beep(MB_ICONQUESTION);
        AddLog(LoadResString(IDS_LOG_SEARCH_CANCELLED));
        return;
    }
    if (FileList->empty()) {
        RunEnvironment->Beep(MB_ICONEXCLAMATION);
        AddLog(LoadResString(IDS_LOG_NO_FILES));
        return;
    }

    StartProgress(FileList->size(), IDS_LOG_FILE_COUNT);
    TWindowReport report(*this);
    TRunCounts counts;
    // Read for every file: an edit made between two files counts from the
    // next file on. A paste from another program may bring lone LFs or
    // CRs: every plug-in gets CR LF, and its reader gives CR LF back, so
    // that the check after the write compares like with like.
    const TRunEnd end = RunFiles(*RunEnvironment, report, Handle, TFilePath(Text(IDC_EDIT_DIR)),
                                 JournalInfo(SelectedIndex()), [this] { return ToCrLfText(Text(IDC_MEMO_COMMENT)); },
                                 *FileList, counts);
    if (end != TRunEnd::Completed) {
        StopProgress();
        if (end == TRunEnd::NoRecord) MsgBoxRes(IDS_NO_RECORD, IDS_CAPTION_WARNING, MB_ICONEXCLAMATION);
        return;
    }
    AddLog(LoadResString(IDS_LOG_COMPLETED));
    if (counts.errors != 0) AddLog(std::to_string(counts.errors) + LoadResString(IDS_LOG_ERROR_COUNT));
    if (counts.onlineOnly != 0) AddLog(std::to_string(counts.onlineOnly) + LoadResString(IDS_LOG_ONLINE_ONLY_COUNT));
    RunEnvironment->Beep(MB_OK);
}

// The log begins anew with the count line, and the counter and the bar
// start from nothing; then the window is brought up to date once.
void TKesBatForm::StartProgress(size_t total, int countLine) {
    progressTotal_ = std::to_string(total);
    progressPosition_ = 0;
    SendMessageA(Control(IDC_LISTBOX_LOG), LB_RESETCONTENT, 0, 0);
    AddLog(progressTotal_ + LoadResString(countLine));
    SendMessageA(Control(IDC_PROGRESSBAR_COUNT), PBM_SETRANGE32, 0, static_cast<LPARAM>(total));
    SetLabelCount("0 / " + progressTotal_);
    progressShownAt_ = RunEnvironment->TickCount();
    RunEnvironment->ProcessMessages();
}

// One more file done, then the window's pending messages. Setting the
// counter and the bar repaints them at once, which costs far more than
// reading a small file: on a folder of small files the run spent most of
// its time drawing. So they catch up at most every kProgressIntervalMs,
// fast enough for the eye, and show the exact count with the last file and
// whenever the work stops.
void TKesBatForm::AdvanceProgress(bool last) {
    ++progressPosition_;
    if (last || RunEnvironment->TickCount() - progressShownAt_ >= kProgressIntervalMs) ShowProgress();
    RunEnvironment->ProcessMessages();
}

void TKesBatForm::ShowProgress() {
    progressShownAt_ = RunEnvironment->TickCount();
    SendMessageA(Control(IDC_PROGRESSBAR_COUNT), PBM_SETPOS, progressPosition_, 0);
    SetLabelCount(std::to_string(progressPosition_) + " / " + progressTotal_);
}

void TKesBatForm::StopProgress() {
    ShowProgress();
    RunEnvironment->Beep(MB_ICONQUESTION);
    AddLog(LoadResString(IDS_LOG_STOPPED));
}

std::wstring TKesBatForm::ErrorLine(const TFilePath& path, int result) const {
    if (result == ErrOnlineOnly) return WidePath(LoadResString(IDS_LOG_ONLINE_ONLY)) + path.Text();
    // Only a plug-in that writes through WriteCommentW gives its results
    // the meanings cpi.h names; another's are its own.
    return WidePath(KES_ERROR_PREFIX) + path.Text() + L" (" +
           RefusalText(path, result, KesBat.PreparedUnicode(), *RunEnvironment) + L")";
}

namespace {

// The numbered text for a result that one names; 0 for any other.
int RefusalReason(int result) {
    switch (result) {
        case ErrOpenRead: return IDS_REASON_OPEN_READ;
        case ErrNotInCodePage: return IDS_REASON_NOT_IN_CODE_PAGE;
        case ErrNameNotPlain: return IDS_REASON_NAME_NOT_PLAIN;
        case ErrUnsearchable: return IDS_REASON_UNSEARCHABLE;
        case ErrNoMemory: return IDS_REASON_NO_MEMORY;
        case ErrCheckRestored: return IDS_REASON_CHECK_RESTORED;
        case ErrCheckNotRestored: return IDS_REASON_CHECK_NOT_RESTORED;
        case ErrNoRecord: return IDS_REASON_NO_RECORD;
        case ErrDeletedRestored: return IDS_REASON_DELETED_RESTORED;
        case ErrPlanCheck: return IDS_REASON_PLAN_CHECK;
        case ErrOnlineOnly: return IDS_PREVIEW_ONLINE_ONLY;
        case ErrAccessDenied: return IDS_REASON_ACCESS_DENIED;
        case ErrDiskFull: return IDS_REASON_DISK_FULL;
        case ErrCloudNotRunning: return IDS_REASON_CLOUD_NOT_RUNNING;
    }
    return result >= CpiRefused && result <= CpiCommentTooLong ? IDS_REASON_BASE + result : 0;
}

std::wstring ResText(int id) { return WidePath(LoadResString(id)); }

}  // namespace

std::wstring RefusalText(const TFilePath& path, int result, bool pluginCodesKnown, TRunEnvironment& environment) {
    if (result == ErrHeld) {
        const std::wstring holder = environment.HolderOf(path);
        return holder.empty() ? ResText(IDS_REASON_HELD) : FillIn(ResText(IDS_REASON_HELD_BY), {holder});
    }
    // The tool's own results, all below zero, are named for any plug-in.
    const int reason = result < 0 || pluginCodesKnown ? RefusalReason(result) : 0;
    return reason != 0 ? ResText(reason) : FillIn(ResText(IDS_REASON_PLUGIN_ANSWER), {std::to_wstring(result)});
}

bool TKesBatForm::CollectRunFiles() {
    return CollectFiles(TFilePath(Text(IDC_EDIT_DIR)),
                        SendMessageA(Control(IDC_CHECKBOX_SUBDIR), BM_GETCHECK, 0, 0) == BST_CHECKED);
}

bool TKesBatForm::CollectFiles(const TFilePath& directory, bool subDirs) {
    return ::CollectFiles(*RunEnvironment, directory, WidePath(KesBat.GetPatterns(SelectedIndex())), subDirs,
                          !KesBat.IsUnicode(SelectedIndex()), *FileList);
}

void TKesBatForm::AddLog(const std::wstring& line) {
    SendMessageW(Control(IDC_LISTBOX_LOG), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
}

void TKesBatForm::AddLog(const std::string& codePageLine) { AddLog(WidePath(codePageLine)); }
