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
#include "kes_bat_ids.h"
#include "kes_bat_msg.h"
#include "kes_bat_texts.h"

namespace {
// How often the counter and the bar are redrawn during a run.
constexpr DWORD kProgressIntervalMs = 50;
}  // namespace

bool TRunEnvironment::EscapePressed() { return (GetAsyncKeyState(VK_ESCAPE) & 0x8000) != 0; }
void TRunEnvironment::ProcessMessages() { Application.ProcessMessages(); }
void TRunEnvironment::Beep(UINT type) { MessageBeep(type); }
DWORD TRunEnvironment::TickCount() { return GetTickCount(); }

TRunEnvironment& TRunEnvironment::Platform() {
    static TRunEnvironment platform;
    return platform;
}

void TKesBatForm::Button_StartClick(HWND) {
    if (!CheckTargetDir()) return;
    if (!KesBat.PrepareWrite(SelectedIndex())) {
        MsgBoxRes(IDS_PLUGIN_LOAD_FAILED, IDS_CAPTION_WARNING, MB_ICONEXCLAMATION);
        return;
    }
    ResetProgress();
    running_ = true;
    Enable(IDC_BUTTON_START, false);
    UpdatePluginButtons(SelectedIndex());
    try {
        RunBatch();
    } catch (...) {
        EndRun();
        throw;
    }
    EndRun();
}

// Whatever way the run ended: the window is usable again, the plug-in is
// released, and a close asked for during the run is carried out now.
void TKesBatForm::EndRun() {
    running_ = false;
    Enable(IDC_BUTTON_START, true);
    UpdatePluginButtons(SelectedIndex());
    KesBat.ReleasePlugin();
    if (closeRequested_) PostMessageA(Handle, WM_CLOSE, 0, 0);
}

bool TKesBatForm::CheckTargetDir() {
    const DWORD attributes = GetFileAttributesA(Text(IDC_EDIT_DIR).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
    MsgBoxRes(IDS_DIR_MISSING, IDS_CAPTION_WARNING, MB_ICONEXCLAMATION);
    return false;
}

void TKesBatForm::ResetProgress() {
    SendMessageA(Control(IDC_LISTBOX_LOG), LB_RESETCONTENT, 0, 0);
    SetLabelCount("0 / 0");
    SendMessageA(Control(IDC_PROGRESSBAR_COUNT), PBM_SETPOS, 0, 0);
}

void TKesBatForm::RunBatch() {
    FileList->clear();
    AddLog(LoadResString(IDS_LOG_SEARCHING));
    if (!CollectFiles(Text(IDC_EDIT_DIR), SendMessageA(Control(IDC_CHECKBOX_SUBDIR), BM_GETCHECK, 0, 0) ==
                                              BST_CHECKED)) {
        RunEnvironment->Beep(MB_ICONQUESTION);
        AddLog(LoadResString(IDS_LOG_SEARCH_CANCELLED));
        return;
    }
    if (FileList->empty()) {
        RunEnvironment->Beep(MB_ICONEXCLAMATION);
        AddLog(LoadResString(IDS_LOG_NO_FILES));
        return;
    }

    const std::string total = std::to_string(FileList->size());
    SendMessageA(Control(IDC_LISTBOX_LOG), LB_RESETCONTENT, 0, 0);
    AddLog(total + LoadResString(IDS_LOG_FILE_COUNT));
    SendMessageA(Control(IDC_PROGRESSBAR_COUNT), PBM_SETRANGE32, 0, static_cast<LPARAM>(FileList->size()));
    SetLabelCount("0 / " + total);
    RunEnvironment->ProcessMessages();

    int errors = 0;
    int position = 0;
    // Setting the counter and the bar repaints them at once, which costs far
    // more than reading a small file: on a folder of small files the run
    // spent most of its time drawing. So during the run they catch up at
    // most every kProgressIntervalMs, fast enough for the eye, and whenever
    // the run ends or stops they show the exact count.
    DWORD shownAt = RunEnvironment->TickCount();
    const auto showProgress = [&] {
        shownAt = RunEnvironment->TickCount();
        SendMessageA(Control(IDC_PROGRESSBAR_COUNT), PBM_SETPOS, position, 0);
        SetLabelCount(std::to_string(position) + " / " + total);
    };
    // Escape, or a close asked for during the run (which then closes the
    // window once the run has returned), stops it at a dispatch point.
    const auto stop = [&] {
        showProgress();
        RunEnvironment->Beep(MB_ICONQUESTION);
        AddLog(LoadResString(IDS_LOG_STOPPED));
    };
    while (!FileList->empty()) {
        if (closeRequested_) return stop();
        // Read for every file: an edit made between two files counts from
        // the next file on.
        const std::string comment = Text(IDC_MEMO_COMMENT);
        const TQueuedPath& entry = FileList->front();
        if (!entry.Writable || KesBat.WriteOneFile(Handle, entry.Path, comment) != 0) {
            AddLog(KES_ERROR_PREFIX + entry.Path);
            ++errors;
        }
        if (RunEnvironment->EscapePressed()) return stop();
        FileList->pop_front();
        ++position;
        if (FileList->empty() || RunEnvironment->TickCount() - shownAt >= kProgressIntervalMs) showProgress();
        RunEnvironment->ProcessMessages();
    }
    AddLog(LoadResString(IDS_LOG_COMPLETED));
    if (errors != 0) AddLog(std::to_string(errors) + LoadResString(IDS_LOG_ERROR_COUNT));
    RunEnvironment->Beep(MB_OK);
}

bool TKesBatForm::CollectFiles(const std::string& directory, bool subDirs) {
    std::string patterns = KesBat.GetPatterns(SelectedIndex());
    const std::string dir = IncludeTrailingPathDelimiter(directory);
    // ';' (0x3B) is never the second byte of a Shift_JIS character, so the
    // list can be split on the byte. An empty item is searched like any.
    for (;;) {
        const std::string::size_type semicolon = patterns.find(';');
        if (!SearchDir(dir, patterns.substr(0, semicolon), false)) return false;
        if (semicolon == std::string::npos) break;
        patterns.erase(0, semicolon + 1);
    }
    return !subDirs || SearchDir(dir, "*.*", true);
}

bool TKesBatForm::SearchDir(const std::string& directory, const std::string& pattern, bool dirPass) {
    // Files may be read-only, hidden, system or archived; the directory pass
    // sees directories that are neither hidden nor system. A special
    // attribute (hidden 2, system 4, volume label 8, directory 16) that the
    // filter lacks hides an entry.
    const DWORD filter = dirPass ? FILE_ATTRIBUTE_DIRECTORY
                                 : FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                       FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
    constexpr DWORD special = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | kFileAttributeVolumeLabel |
                              FILE_ATTRIBUTE_DIRECTORY;
    CFindFile search(WidePath(directory + pattern).c_str());
    if (!search.Found()) {
        // Nothing matched, or the folder could not be searched at all
        // (access denied, a path too long): the user must hear of the
        // second, or "include subfolders" silently does nothing.
        if (search.Error() != ERROR_FILE_NOT_FOUND) QueueUnwritable(directory);
        return true;
    }
    do {
        const WIN32_FIND_DATAW& entry = search.Data();
        const DWORD attributes = entry.dwFileAttributes;
        if ((attributes & ~filter & special) != 0) continue;
        if (RunEnvironment->EscapePressed()) return false;
        std::string name;
        const bool exact = ExactName(entry.cFileName, name);
        if (name == "." || name == "..") continue;
        // Read-only, archive, compressed or not-indexed folders are ordinary
        // folders to the user; links and junctions are not followed, so
        // that no tree loops.
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            // A folder the code page cannot name exactly is never searched:
            // its text would name another folder, or be a wildcard.
            if (!exact)
                QueueUnwritable(directory + name + "\\");
            else if (!CollectFiles(directory + name, true))
                return false;
        } else if (!dirPass) {
            FileList->push_back({directory + name, exact});
        }
    } while (search.Next());
    return true;
}

// Once for each name: every pattern's search of a folder that cannot be
// searched fails alike.
void TKesBatForm::QueueUnwritable(const std::string& path) {
    if (FileList->empty() || FileList->back().Writable || FileList->back().Path != path)
        FileList->push_back({path, false});
}

void TKesBatForm::AddLog(const std::string& line) {
    SendMessageA(Control(IDC_LISTBOX_LOG), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
}

