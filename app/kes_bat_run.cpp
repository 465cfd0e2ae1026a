// The batch run: collecting the files of the chosen type in the folder
// tree, then writing the comment into one after the other through the
// plug-in, with its progress, its log, and Escape to stop it.
#include "kes_bat_form.h"

#include <commctrl.h>

#include "Application.h"
#include "Handles.h"
#include "Kes_bat_data.h"
#include "Mbox_res.h"
#include "PathText.h"
#include "TextFile.h"
#include "kes_bat_ids.h"
#include "kes_bat_msg.h"
#include "kes_bat_step.h"
#include "kes_bat_texts.h"

namespace {
// A cloud file whose contents are not on this machine: opening or reading
// it makes the cloud client download it first.
// (RECALL_ON_DATA_ACCESS, RECALL_ON_OPEN and OFFLINE; the compiler's
// headers lack the first two names.)
constexpr DWORD kOnlineOnly = 0x400000 | 0x40000 | FILE_ATTRIBUTE_OFFLINE;

// Cloud folders are reparse points whose tag is one of the cloud tags:
// searching them downloads nothing and can lead nowhere else, unlike a link.
bool IsCloudFolder(const WIN32_FIND_DATAW& entry) {
    return (entry.dwReserved0 & 0xFFFF0FFFu) == static_cast<DWORD>(IO_REPARSE_TAG_CLOUD);
}

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

bool TRunEnvironment::EscapePressed() { return (GetAsyncKeyState(VK_ESCAPE) & 0x8000) != 0; }
void TRunEnvironment::ProcessMessages() { Application.ProcessMessages(); }
void TRunEnvironment::Beep(UINT type) { MessageBeep(type); }
DWORD TRunEnvironment::TickCount() { return GetTickCount(); }
DWORD TRunEnvironment::EntryAttributes(const WIN32_FIND_DATAW& entry) { return entry.dwFileAttributes; }
std::wstring TRunEnvironment::JournalFolder() { return kes::journal::JournalStore::DefaultFolder(); }

TRunEnvironment& TRunEnvironment::Platform() {
    static TRunEnvironment platform;
    return platform;
}

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
    int errors = 0, onlineOnly = 0;
    // The run's journal, so that it can be taken back: begun with the first
    // file it changes.
    TRunRecorder recorder(kes::journal::JournalStore(RunEnvironment->JournalFolder()), TFilePath(Text(IDC_EDIT_DIR)),
                          JournalInfo(SelectedIndex()));
    // Escape, or a close asked for during the run (which then closes the
    // window once the run has returned), stops it at a dispatch point.
    const auto stop = [&] {
        recorder.Finish();
        StopProgress();
    };
    while (!FileList->empty()) {
        if (closeRequested_) return stop();
        // Read for every file: an edit made between two files counts from
        // the next file on. A paste from another program may bring lone
        // LFs or CRs: every plug-in gets CR LF, and its reader gives CR LF
        // back, so that the check after the write compares like with like.
        const std::wstring comment = ToCrLfText(Text(IDC_MEMO_COMMENT));
        const TQueuedPath& entry = FileList->front();
        if (entry.Kind == TQueued::OnlineOnly) {
            AddLog(WidePath(LoadResString(IDS_LOG_ONLINE_ONLY)) + entry.Path.Text());
            ++onlineOnly;
        } else {
            bool noRecord = false;
            const int result =
                entry.Kind != TQueued::Write     ? QueuedResult(entry.Kind)
                : RunEnvironment->KeepRecords() ? TFileStep::Write(Handle, entry.Path, comment, recorder, noRecord)
                                                 : KesBat.WriteOneFile(Handle, entry.Path, comment);
            if (result != 0) {
                AddLog(ErrorLine(entry.Path, result));
                ++errors;
            }
            if (noRecord) {
                stop();
                MsgBoxRes(IDS_NO_RECORD, IDS_CAPTION_WARNING, MB_ICONEXCLAMATION);
                return;
            }
        }
        if (RunEnvironment->EscapePressed()) return stop();
        FileList->pop_front();
        AdvanceProgress(FileList->empty());
    }
    recorder.Finish();
    AddLog(LoadResString(IDS_LOG_COMPLETED));
    if (errors != 0) AddLog(std::to_string(errors) + LoadResString(IDS_LOG_ERROR_COUNT));
    if (onlineOnly != 0) AddLog(std::to_string(onlineOnly) + LoadResString(IDS_LOG_ONLINE_ONLY_COUNT));
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
    std::wstring line = WidePath(KES_ERROR_PREFIX) + path.Text();
    // Only a plug-in that writes through WriteCommentW gives its results
    // the meanings cpi.h names; another's are its own. The tool's own
    // results, all below zero, are named for any plug-in.
    if (result > 0 && !KesBat.PreparedUnicode()) return line;
    if (const int reason = RefusalReason(result)) line += L" (" + WidePath(LoadResString(reason)) + L")";
    return line;
}

int QueuedResult(TQueued kind) {
    switch (kind) {
        case TQueued::NotInCodePage: return ErrNotInCodePage;
        case TQueued::NameNotPlain: return ErrNameNotPlain;
        case TQueued::Unsearchable: return ErrUnsearchable;
        default: return 0;
    }
}

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
    }
    return result >= CpiRefused && result <= CpiCommentTooLong ? IDS_REASON_BASE + result : 0;
}

bool TKesBatForm::CollectRunFiles() {
    FileList->clear();
    return CollectFiles(TFilePath(Text(IDC_EDIT_DIR)),
                        SendMessageA(Control(IDC_CHECKBOX_SUBDIR), BM_GETCHECK, 0, 0) == BST_CHECKED);
}

bool TKesBatForm::CollectFiles(const TFilePath& directory, bool subDirs) {
    std::wstring patterns = WidePath(KesBat.GetPatterns(SelectedIndex()));
    const TFilePath dir = directory.WithTrailingDelimiter();
    // An empty item is searched like any other.
    for (;;) {
        const std::wstring::size_type semicolon = patterns.find(L';');
        if (!SearchDir(dir, patterns.substr(0, semicolon), false)) return false;
        if (semicolon == std::wstring::npos) break;
        patterns.erase(0, semicolon + 1);
    }
    return !subDirs || SearchDir(dir, L"*.*", true);
}

bool TKesBatForm::SearchDir(const TFilePath& directory, const std::wstring& pattern, bool dirPass) {
    // Files may be read-only, hidden, system or archived; the directory pass
    // sees directories that are neither hidden nor system. A special
    // attribute (hidden 2, system 4, volume label 8, directory 16) that the
    // filter lacks hides an entry.
    const DWORD filter = dirPass ? FILE_ATTRIBUTE_DIRECTORY
                                 : FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                       FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
    constexpr DWORD special = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | kFileAttributeVolumeLabel |
                              FILE_ATTRIBUTE_DIRECTORY;
    // A plug-in of the code page can only be handed names the code page
    // holds exactly; another name would lead it to another file ("¥" comes
    // out as "\") or be a wildcard ("?").
    const bool codePageOnly = !KesBat.IsUnicode(SelectedIndex());
    CFindFile search(directory.Win32(), pattern);
    if (!search.Found()) {
        // Nothing matched, or the folder could not be searched at all
        // (access denied, vanished): the user must hear of the second, or
        // "include subfolders" silently does nothing.
        if (search.Error() != ERROR_FILE_NOT_FOUND) QueueUnwritable(directory, TQueued::Unsearchable);
        return true;
    }
    std::string codePageName;
    do {
        const WIN32_FIND_DATAW& entry = search.Data();
        const DWORD attributes = RunEnvironment->EntryAttributes(entry);
        if ((attributes & ~filter & special) != 0) continue;
        if (RunEnvironment->EscapePressed()) return false;
        const wchar_t* name = entry.cFileName;
        if (wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0) continue;
        // The same for a name that the plain form of a path, all such a
        // plug-in takes, would change.
        const TQueued unwritable = !codePageOnly                   ? TQueued::Write
                                   : !TFilePath::KeptByWin32(name) ? TQueued::NameNotPlain
                                   : !ExactName(name, codePageName) ? TQueued::NotInCodePage
                                                                    : TQueued::Write;
        // Read-only, archive, compressed or not-indexed folders are ordinary
        // folders to the user; links and junctions are not followed, so
        // that no tree loops. Listing a cloud folder downloads nothing.
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) &&
            (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT) || IsCloudFolder(entry))) {
            if (unwritable != TQueued::Write)
                QueueUnwritable(directory.Child(name).WithTrailingDelimiter(), unwritable);
            else if (!CollectFiles(directory.Child(name), true))
                return false;
        } else if (!dirPass) {
            const TQueued kind = (attributes & kOnlineOnly) ? TQueued::OnlineOnly : unwritable;
            FileList->push_back({directory.Child(name), kind});
        }
    } while (search.Next());
    return true;
}

// Once for each name: every pattern's search of a folder that cannot be
// searched fails alike.
void TKesBatForm::QueueUnwritable(const TFilePath& path, TQueued kind) {
    if (FileList->empty() || FileList->back().Kind != kind || FileList->back().Path != path)
        FileList->push_back({path, kind});
}

void TKesBatForm::AddLog(const std::wstring& line) {
    SendMessageW(Control(IDC_LISTBOX_LOG), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
}

void TKesBatForm::AddLog(const std::string& codePageLine) { AddLog(WidePath(codePageLine)); }
