// Drives the real kes_bat.exe through its window, as a user would: starts it
// in a fresh folder with the plug-ins a test chooses, reads and sets its
// controls by id, clicks, answers its message boxes, and waits for its end.
#ifndef KESTRANE_KES_DRIVER_H
#define KESTRANE_KES_DRIVER_H

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace kes_test {

// One run as the window shows it, in milliseconds from the click.
struct TRunTiming {
    double CollectMs = 0;    // until the counter shows the total: the search for files
    double TotalMs = 0;      // until the start button is enabled again
    unsigned long Files = 0; // the total the counter showed
};

// A message box as the user sees it.
struct TBox {
    std::string Caption;
    std::string Text;
    UINT Icon = 0;  // MB_ICONERROR, MB_ICONQUESTION, MB_ICONEXCLAMATION, MB_ICONINFORMATION or 0
};

class TKesDriver {
public:
    // Copies kes_bat.exe and, for each (variant, file name), that test
    // plug-in into `folder`, which must exist.
    TKesDriver(const std::string& folder, const std::vector<std::pair<std::string, std::string>>& plugins);
    // Drives the kes_bat.exe that is already in `folder`, with the plug-ins
    // beside it: a folder as a user unpacked it.
    explicit TKesDriver(const std::string& folder);
    ~TKesDriver();
    TKesDriver(const TKesDriver&) = delete;
    TKesDriver& operator=(const TKesDriver&) = delete;

    // Starts the program; true once its main window exists.
    bool Start(DWORD timeoutMs = 30000);
    HWND Window() const { return window_; }
    HWND Control(int id) const { return GetDlgItem(window_, id); }
    DWORD ProcessId() const { return pi_.dwProcessId; }
    HANDLE Process() const { return pi_.hProcess; }

    std::string Text(int id) const;
    void SetText(int id, const std::string& text) const;
    // The same with every character: the comment, the folder and the log
    // are Unicode controls.
    std::wstring WideText(int id) const;
    void SetText(int id, const std::wstring& text) const;
    bool IsEnabled(int id) const;
    bool IsChecked(int id) const;
    void SetChecked(int id, bool checked) const;
    // The control's place in the main window's client area.
    RECT Bounds(int id) const;
    // The box around what the control shows on the screen over the window's
    // face colour (its text, for a label), relative to the control.
    RECT Ink(int id) const;
    // The name that screen readers are given for the control.
    std::string AccessibleName(int id) const;
    // Points the mouse at the control and waits for a tooltip of the
    // program to appear; its text, or empty when none came.
    std::string HoverTip(int id, DWORD timeoutMs = 10000) const;
    // What the system sends when the window comes onto a monitor of another
    // scale: the new DPI and the rectangle suggested for the window.
    void SendDpiChanged(int dpi, const RECT& suggested) const;

    // A click that returns when the program has handled it.
    void Click(int id) const;
    // A click that returns at once: for a command that opens a box or runs long.
    void PostClick(int id) const;
    void PostMenu(int id) const;
    // A menu command that returns when the program has handled it: for one
    // that opens no box, such as the preview.
    void Menu(int id) const;
    void PostClose() const;

    std::vector<std::string> ComboItems() const;
    int ComboSelection() const;
    // Chooses item i as a user would: the program hears of the change.
    void ChooseCombo(int index) const;
    std::vector<std::string> LogLines() const;
    // The log as it is, with every character of every name.
    std::vector<std::wstring> WideLogLines() const;

    // The message box that the program shows, waiting for it up to timeoutMs.
    bool WaitBox(TBox& box, DWORD timeoutMs = 15000) const;
    // Presses OK in the box that is open.
    void AnswerBox() const;
    // Waits for a box, reads it, and answers it.
    TBox ExpectBox(DWORD timeoutMs = 15000) const;
    // True if a message box of the program is open now.
    bool BoxOpen() const;
    // Waits until the program reads its messages again, between two
    // handlers or inside a modal box, and says whether its window then takes
    // input: not while a box or dialog of it is open.
    bool TakesInput() const;

    // Answers the open-file dialog with a file name, as typed by the user;
    // false if no such dialog appeared.
    bool AnswerFileDialog(const std::string& fileName, DWORD timeoutMs = 15000) const;
    bool AnswerFileDialog(const std::wstring& fileName, DWORD timeoutMs = 15000) const;
    // The texts of the static controls of the open dialog (its instructions
    // and labels); empty when no dialog is open.
    std::vector<std::string> DialogTexts() const;
    // Closes the open dialog with the given button (IDOK, IDCANCEL) and
    // waits until it has gone.
    void AnswerDialog(int button) const;
    // The control of the main window that has the keyboard focus, by id (0: none).
    int FocusId() const;
    // Posts a key to the control with the focus, through the program's own
    // message loop, as the keyboard would; it is handled soon after.
    void PostKey(UINT virtualKey) const;

    // The preview window, while it is shown; null otherwise.
    HWND PreviewWindow() const;
    // A text of the preview window's control, by id.
    std::wstring PreviewText(int id) const;
    // The preview's rows as its list shows them: path, comment, action.
    std::vector<std::vector<std::wstring>> PreviewRows() const;

    // Waits until the control is enabled; false on timeout.
    bool WaitEnabled(int id, DWORD timeoutMs) const;
    // Waits for the program to end; its exit code, or STILL_ACTIVE on timeout.
    DWORD WaitExit(DWORD timeoutMs = 15000);
    SIZE_T PeakWorkingSet() const;

    // Presses the start button and times the run. While it runs, the
    // program is sent no message: the start button's state and the
    // counter's text are read from the window server every `pollMs`, which
    // costs the run nothing else. False if the run did not start, found no
    // file, or did not end within timeoutMs.
    bool TimedRun(TRunTiming& timing, DWORD timeoutMs, DWORD pollMs = 5) const;
    // The same for ファイル → プレビュー, until the preview has read every
    // file, by the preview's counter. CollectMs is when that counter first
    // shows the total: up to one redraw interval (50 ms) after the search.
    bool TimedPreview(TRunTiming& timing, DWORD timeoutMs, DWORD pollMs = 5) const;
    // ファイル → 元に戻す, answered Yes when its question names `folder`
    // (No otherwise, and false). CollectMs runs from the command to the
    // question (the journal read and checked); TotalMs adds the undo, from
    // the answer until the log's last line is `closingLine`, without the
    // time the question stood open. Files: the undo's total. False unless
    // the counter then shows every file done.
    bool TimedUndo(TRunTiming& timing, const std::string& folder, const std::string& closingLine,
                   DWORD timeoutMs, DWORD pollMs = 5) const;

private:
    // Posts a command that disables the start button while it works, and
    // times it by the button and by the counter that `counter` finds.
    template <class TPost, class TCounter>
    bool TimedCommand(TPost post, TCounter counter, TRunTiming& timing, DWORD timeoutMs, DWORD pollMs) const;
    HWND FindBoxWindow() const;
    HWND FocusWindow() const;

    std::string folder_;
    PROCESS_INFORMATION pi_{};
    HWND window_ = nullptr;
};

// The folder holding kes_bat.exe as built (ending in '\').
std::string ToolDir();
// Copies the plug-ins built to ship beside kes_bat.exe into `folder`
// (ending in '\'); how many.
int CopyBundledPlugins(const std::string& folder);

// The box around the pixels of `text` drawn on one line in the given face
// (Shift_JIS) with a character height of `height` pixels, from its origin.
RECT TextInk(const std::string& text, const char* face, int height);

// Polls every pollMs until done() holds; false when timeoutMs passes first.
// The one way the tests and the driver wait for the program.
template <class F>
bool WaitFor(F done, DWORD timeoutMs = 10000, DWORD pollMs = 20) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(pollMs);
    }
    return true;
}

}  // namespace kes_test

#endif
