// The main window: four numbered steps (comment, file type, directory, run)
// and the batch run that writes the comment through the chosen plug-in.
#ifndef KESTRANE_KES_BAT_FORM_H
#define KESTRANE_KES_BAT_FORM_H

#include <windows.h>
#include <shellapi.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "Engine.h"
#include "FilePath.h"
#include "UiHandles.h"

// The DPI a window is drawn at.
int WindowDpi(HWND window);

// The window's two Gothic faces at a DPI.
struct TWindowFonts {
    explicit TWindowFonts(int dpi);
    CGdiObject Proportional;  // the window and most controls
    CGdiObject FixedPitch;    // text fields, lists, counter
};
// A length of the window's layout, given at 96 DPI, at `dpi`.
inline int ScaleToDpi(int pixels, int dpi) { return MulDiv(pixels, dpi, USER_DEFAULT_SCREEN_DPI); }

// How often a run or a preview redraws its counter and bar.
constexpr DWORD kProgressIntervalMs = 50;
// How often a preview shows its list's new rows while it reads.
constexpr DWORD kListIntervalMs = 500;

// Why a file failed or would be refused with this result of the host or
// of the prepared plug-in, as the log and the preview say it. A plug-in's
// result is named where its codes are the interface's (`pluginCodesKnown`),
// and told as a number where they are its own. A file held by another
// program names that program where `environment` can tell.
std::wstring RefusalText(const TFilePath& path, int result, bool pluginCodesKnown, TRunEnvironment& environment);

class TKesBatPreview;
namespace kes::journal {
class JournalReader;
class JournalStore;
}

class TKesBatForm {
public:
    // Start-up status, in Tag.
    enum { TagReady = 0, TagNoPlugin = -1, TagNoFileList = -2 };
    int Tag = TagReady;
    // The paths still to be written by a run, front first.
    std::unique_ptr<std::deque<TQueuedPath>> FileList;
    HWND Handle = nullptr;
    TRunEnvironment* RunEnvironment;

    TKesBatForm();
    TKesBatForm(const TKesBatForm&) = delete;
    TKesBatForm& operator=(const TKesBatForm&) = delete;
    ~TKesBatForm();

    // Creates the window and its controls (FormCreate runs inside), then
    // shows it centred on the screen.
    void Create();
    // Closes the window as its close box does.
    void Close();
    HWND Control(int id) const { return GetDlgItem(Handle, id); }

    void FormCreate(HWND sender);
    void FormShow(HWND sender);
    void FormActivate(HWND sender);
    void FormClose(HWND sender);
    void ComboBox_ExtChange(HWND sender);
    void Button_SettingClick(HWND sender);
    void SpeedButton1Click(HWND sender);
    void Button_StartClick(HWND sender);
    void Menu_LoadTextClick(HWND sender);
    void Menu_AboutClick(HWND sender);
    void Menu_ExitClick(HWND sender);
    void Menu_CopyLogClick(HWND sender);
    void Menu_UndoClick(HWND sender);
    void Menu_PreviewClick(HWND sender);
    void ListBox_LogContextPopup(POINT at);
    // True when the key was Ctrl+C, which copies the log.
    bool ListBox_LogKeyDown(UINT key);
    void FormDropFiles(HDROP drop);

    bool CheckTargetDir();
    void ResetProgress();
    void RunBatch();
    // Whether the comment can go to the chosen plug-in; warns when not.
    bool CheckCommentFits();
    // Empties FileList and fills it from the folder and subfolder setting
    // of the window; false when Escape cancelled the search.
    bool CollectRunFiles();
    bool CollectFiles(const TFilePath& directory, bool subDirs);

private:
    class TWindowReport;
    void UpdatePluginButtons(int index);
    void CreateControls();
    void LayoutControls();
    void NameFolderButton();
    void FitComboBoxHeight();
    void FitClientArea();
    void FormDpiChanged(int dpi, const RECT& suggested);
    int Scale(int pixels) const { return ScaleToDpi(pixels, dpi_); }
    int SelectedIndex() const;
    std::wstring Text(int id) const;
    void SetText(int id, const std::wstring& text);
    void Enable(int id, bool enabled);
    void AddLog(const std::wstring& line);
    void AddLog(const std::string& codePageLine);
    // The log line of a file that failed with the given result.
    std::wstring ErrorLine(const TFilePath& path, int result) const;
    void SetLabelCount(const std::string& text);
    // A run and a preview hold the plug-in slot from their start to their
    // end; meanwhile neither can start and the plug-in dialogs wait.
    void SetRunning(bool running);
    void EndRun();
    // Does the work of a run, a preview or an undo, then ends it, also when
    // the work throws.
    void EndRunAfter(const std::function<void()>& work);
    // False when it was stopped before every file had its turn, or left a
    // file that a later undo may still put back.
    bool UndoRun(const kes::journal::JournalReader& journal, const kes::journal::JournalStore& store);
    void StartProgress(size_t total, int countLine);
    void AdvanceProgress(bool last);
    void ShowProgress();
    void StopProgress();
    void PreviewFiles(bool reads);
    void DrawItem(const DRAWITEMSTRUCT& item);
    void MeasureItem(MEASUREITEMSTRUCT& item);
    bool Command(int id, int code, HWND sender);

    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    int dpi_ = USER_DEFAULT_SCREEN_DPI;
    std::unique_ptr<TWindowFonts> fonts_;
    HWND toolTip_ = nullptr;  // owned by the window, which destroys it
    HWND lastFocus_ = nullptr;
    bool running_ = false;
    bool closeRequested_ = false;
    // The counter of a run or an undo.
    std::string progressTotal_;
    int progressPosition_ = 0;
    DWORD progressShownAt_ = 0;
    // Made on the first preview; the window then stays, closed or open.
    std::unique_ptr<TKesBatPreview> preview_;
};

// What the engine reports, shown in the log, the counter and the bar.
// Escape, or a close asked for during the work (which then closes the
// window once the work has returned), stops it after a file.
class TKesBatForm::TWindowReport : public TEngineReport {
public:
    explicit TWindowReport(TKesBatForm& form) : form_(form) {}
    void Failed(const TFilePath& path, int result) override { form_.AddLog(form_.ErrorLine(path, result)); }
    void Advanced(bool last) override { form_.AdvanceProgress(last); }
    bool StopRequested() override { return form_.closeRequested_ || form_.RunEnvironment->EscapePressed(); }
    bool Closing() override { return form_.closeRequested_; }

private:
    TKesBatForm& form_;
};

extern TKesBatForm* KesBatForm;

#endif
