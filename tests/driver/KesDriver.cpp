#include "KesDriver.h"

#include <commctrl.h>
#include <oleacc.h>
#include <psapi.h>

#include <algorithm>
#include <cwchar>

#include "TestSupport.h"
#include "kes_bat_ids.h"

namespace kes_test {

namespace {

HWND FindWindowOf(DWORD pid, const char* className) { return FindTopLevelWindow(pid, className); }

// Texts are read as UTF-16 and turned into the system code page here: across
// processes the ANSI forms of some list messages hand back UTF-16 or count
// in characters, while the UTF-16 forms are exact.
std::string ToAnsi(const std::wstring& w) {
    if (w.empty()) return std::string();
    const int n = WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
    return s;
}

// Reads a text of `length` characters with `message` (WM_GETTEXT,
// LB_GETTEXT, CB_GETLBTEXT), which takes the buffer in lParam.
std::wstring ReadWideText(HWND hwnd, UINT message, WPARAM wParam, LRESULT length) {
    if (length <= 0) return std::wstring();
    std::wstring w(static_cast<size_t>(length) + 1, L'\0');
    if (message == WM_GETTEXT) wParam = w.size();
    const LRESULT got = SendMessageW(hwnd, message, wParam, reinterpret_cast<LPARAM>(&w[0]));
    w.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return w;
}

std::string ReadText(HWND hwnd, UINT message, WPARAM wParam, LRESULT length) {
    return ToAnsi(ReadWideText(hwnd, message, wParam, length));
}

std::string WindowText(HWND hwnd) {
    return ReadText(hwnd, WM_GETTEXT, 0, SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0));
}

// A picture of `size` drawn by `draw` into a bitmap like the screen's, as
// its pixels row by row.
template <class F>
std::vector<COLORREF> Picture(SIZE size, F draw) {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, size.cx, size.cy);
    HGDIOBJ old = SelectObject(dc, bmp);
    draw(dc, screen);
    std::vector<COLORREF> px;
    for (int y = 0; y < size.cy; ++y)
        for (int x = 0; x < size.cx; ++x) px.push_back(GetPixel(dc, x, y));
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return px;
}

// The standard icons as this process draws them, to recognise the one a
// box shows: its pixels are read from the screen.
std::vector<COLORREF> IconPixels(HICON icon, COLORREF background) {
    return Picture(SIZE{32, 32}, [&](HDC dc, HDC) {
        HBRUSH brush = CreateSolidBrush(background);
        RECT r{0, 0, 32, 32};
        FillRect(dc, &r, brush);
        DeleteObject(brush);
        DrawIconEx(dc, 0, 0, icon, 32, 32, 0, nullptr, DI_NORMAL);
    });
}

// What the screen shows from the top left corner of the control on.
std::vector<COLORREF> ScreenPixels(HWND control, SIZE size) {
    RECT r;
    GetWindowRect(control, &r);
    return Picture(size,
                   [&](HDC dc, HDC screen) { BitBlt(dc, 0, 0, size.cx, size.cy, screen, r.left, r.top, SRCCOPY); });
}

RECT InkBounds(const std::vector<COLORREF>& px, LONG width, COLORREF background) {
    RECT ink{width, static_cast<LONG>(px.size()) / width, 0, 0};
    for (size_t i = 0; i < px.size(); ++i) {
        if (px[i] == background) continue;
        const LONG x = static_cast<LONG>(i) % width, y = static_cast<LONG>(i) / width;
        ink = RECT{std::min(ink.left, x), std::min(ink.top, y), std::max(ink.right, x + 1),
                   std::max(ink.bottom, y + 1)};
    }
    return ink;
}

struct TChildScan {
    HWND Text = nullptr;
    HWND Icon = nullptr;
};

BOOL CALLBACK ScanBoxChild(HWND hwnd, LPARAM param) {
    TChildScan& s = *reinterpret_cast<TChildScan*>(param);
    char cls[32] = "";
    GetClassNameA(hwnd, cls, sizeof cls);
    if (lstrcmpiA(cls, "Static") != 0) return TRUE;
    const LONG style = GetWindowLongA(hwnd, GWL_STYLE);
    if ((style & SS_TYPEMASK) == SS_ICON)
        s.Icon = hwnd;
    else if (s.Text == nullptr)
        s.Text = hwnd;
    return TRUE;
}

UINT RecogniseIcon(HWND iconControl) {
    const struct {
        LPCSTR Id;
        UINT Style;
    } icons[] = {{MAKEINTRESOURCEA(32513), MB_ICONERROR},
                 {MAKEINTRESOURCEA(32514), MB_ICONQUESTION},
                 {MAKEINTRESOURCEA(32515), MB_ICONEXCLAMATION},
                 {MAKEINTRESOURCEA(32516), MB_ICONINFORMATION}};
    if (iconControl == nullptr || !IsWindowVisible(iconControl)) return 0;
    // The box may not have drawn its icon yet: look again for a while.
    UINT style = 0;
    WaitFor(
        [&] {
            const std::vector<COLORREF> shown = ScreenPixels(iconControl, SIZE{32, 32});
            for (const auto& icon : icons)
                if (IconPixels(LoadIconA(nullptr, icon.Id), shown[0]) == shown) style = icon.Style;
            return style != 0;
        },
        2000);
    return style;
}

}  // namespace

std::string ToolDir() { return ExeDir() + "..\\bin\\"; }

int CopyBundledPlugins(const std::string& folder) {
    int copied = 0;
    for (const WIN32_FIND_DATAA& plugin : FolderEntries(ToolDir(), "*.cpi"))
        copied += CopyFileA((ToolDir() + plugin.cFileName).c_str(), (folder + plugin.cFileName).c_str(), FALSE) != 0;
    return copied;
}

RECT TextInk(const std::string& text, const char* face, int height) {
    HFONT font = CreateFontA(-height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
    const SIZE size{static_cast<LONG>(text.size()) * height + 8, 2 * height};
    const COLORREF background = GetSysColor(COLOR_BTNFACE);
    const std::vector<COLORREF> px = Picture(size, [&](HDC dc, HDC) {
        HGDIOBJ old = SelectObject(dc, font);
        SetBkColor(dc, background);
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        const RECT all{0, 0, size.cx, size.cy};
        ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &all, text.c_str(), static_cast<UINT>(text.size()), nullptr);
        SelectObject(dc, old);
    });
    DeleteObject(font);
    return InkBounds(px, size.cx, background);
}

TKesDriver::TKesDriver(const std::string& folder) : folder_(folder) {}

TKesDriver::TKesDriver(const std::string& folder,
                       const std::vector<std::pair<std::string, std::string>>& plugins)
    : TKesDriver(folder) {
    CopyFileA((ToolDir() + "kes_bat.exe").c_str(), (folder_ + "kes_bat.exe").c_str(), FALSE);
    for (const auto& p : plugins)
        CopyFileA(TestPlugin(p.first).c_str(), (folder_ + p.second).c_str(), FALSE);
}

TKesDriver::~TKesDriver() {
    if (pi_.hProcess != nullptr) {
        if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(pi_.hProcess, 1);
            WaitForSingleObject(pi_.hProcess, 5000);
        }
        CloseHandle(pi_.hProcess);
        CloseHandle(pi_.hThread);
    }
}

bool TKesDriver::Start(DWORD timeoutMs) {
    // The program lays itself out in the screen's own pixels. Windows shows
    // a program that declares no DPI awareness the windows of others scaled
    // back to 96 DPI (Wine 8 does not), so the driver declares it too.
    SetProcessDPIAware();
    STARTUPINFOA si{};
    si.cb = sizeof si;
    std::string command = "\"" + folder_ + "kes_bat.exe\"";
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, folder_.c_str(), &si,
                        &pi_))
        return false;
    bool ended = false;
    const bool shown = WaitFor(
        [&] {
            window_ = FindWindowOf(pi_.dwProcessId, KES_WINDOW_CLASS);
            ended = WaitForSingleObject(pi_.hProcess, 0) == WAIT_OBJECT_0;
            return window_ != nullptr || ended;
        },
        timeoutMs);
    if (!shown || window_ == nullptr) return false;
    // Shown, and done with what it does before it waits for the user.
    WaitForInputIdle(pi_.hProcess, timeoutMs);
    return true;
    return false;
}

std::string TKesDriver::Text(int id) const { return WindowText(Control(id)); }

void TKesDriver::SetText(int id, const std::string& text) const {
    SendMessageA(Control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::wstring TKesDriver::WideText(int id) const {
    HWND control = Control(id);
    std::wstring text(static_cast<size_t>(SendMessageW(control, WM_GETTEXTLENGTH, 0, 0)) + 1, L'\0');
    text.resize(static_cast<size_t>(
        SendMessageW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()))));
    return text;
}

void TKesDriver::SetText(int id, const std::wstring& text) const {
    SendMessageW(Control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

bool TKesDriver::IsEnabled(int id) const { return IsWindowEnabled(Control(id)) != FALSE; }

bool TKesDriver::IsChecked(int id) const { return SendMessageA(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }

void TKesDriver::SetChecked(int id, bool checked) const {
    SendMessageA(Control(id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

RECT TKesDriver::Bounds(int id) const {
    RECT r;
    GetWindowRect(Control(id), &r);
    MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

RECT TKesDriver::Ink(int id) const {
    const RECT r = Bounds(id);
    const SIZE size{r.right - r.left, r.bottom - r.top};
    return InkBounds(ScreenPixels(Control(id), size), size.cx, GetSysColor(COLOR_BTNFACE));
}

std::string TKesDriver::AccessibleName(int id) const {
    IAccessible* object = nullptr;
    if (FAILED(AccessibleObjectFromWindow(Control(id), OBJID_CLIENT, IID_IAccessible,
                                          reinterpret_cast<void**>(&object))))
        return "(no accessible object)";
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    std::string text;
    if (object->get_accName(self, &name) == S_OK && name != nullptr)
        text = ToAnsi(std::wstring(name, SysStringLen(name)));
    SysFreeString(name);
    object->Release();
    return text;
}

std::string TKesDriver::HoverTip(int id, DWORD timeoutMs) const {
    RECT r;
    GetWindowRect(Control(id), &r);
    SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    HWND tip = nullptr;
    WaitFor([&] { return (tip = FindWindowOf(pi_.dwProcessId, TOOLTIPS_CLASSA)) != nullptr; }, timeoutMs);
    const std::string text = tip != nullptr ? WindowText(tip) : std::string();
    // Away again, so that the tip goes.
    SetCursorPos(0, 0);
    return text;
}

void TKesDriver::SendDpiChanged(int dpi, const RECT& suggested) const {
    // The message carries a pointer to the rectangle, which the system does
    // not carry over to another process: it goes into the program's memory.
    void* remote = VirtualAllocEx(pi_.hProcess, nullptr, sizeof suggested, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    WriteProcessMemory(pi_.hProcess, remote, &suggested, sizeof suggested, nullptr);
    SendMessageA(window_, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(remote));
    VirtualFreeEx(pi_.hProcess, remote, 0, MEM_RELEASE);
}

void TKesDriver::Click(int id) const { SendMessageA(Control(id), BM_CLICK, 0, 0); }

void TKesDriver::PostClick(int id) const {
    PostMessageA(window_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Control(id)));
}

void TKesDriver::PostMenu(int id) const { PostMessageA(window_, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

void TKesDriver::Menu(int id) const { SendMessageA(window_, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

void TKesDriver::PostClose() const { PostMessageA(window_, WM_CLOSE, 0, 0); }

std::vector<std::string> TKesDriver::ComboItems() const {
    HWND combo = Control(IDC_COMBOBOX_EXT);
    std::vector<std::string> items;
    const LRESULT n = SendMessageA(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < n; ++i)
        items.push_back(ReadText(combo, CB_GETLBTEXT, i, SendMessageW(combo, CB_GETLBTEXTLEN, i, 0)));
    return items;
}

int TKesDriver::ComboSelection() const {
    return static_cast<int>(SendMessageA(Control(IDC_COMBOBOX_EXT), CB_GETCURSEL, 0, 0));
}

void TKesDriver::ChooseCombo(int index) const {
    HWND combo = Control(IDC_COMBOBOX_EXT);
    SendMessageA(combo, CB_SETCURSEL, index, 0);
    SendMessageA(window_, WM_COMMAND, MAKEWPARAM(IDC_COMBOBOX_EXT, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(combo));
}

std::vector<std::wstring> TKesDriver::WideLogLines() const {
    HWND log = Control(IDC_LISTBOX_LOG);
    std::vector<std::wstring> lines;
    const LRESULT n = SendMessageW(log, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < n; ++i)
        lines.push_back(ReadWideText(log, LB_GETTEXT, i, SendMessageW(log, LB_GETTEXTLEN, i, 0)));
    return lines;
}

std::vector<std::string> TKesDriver::LogLines() const {
    std::vector<std::string> lines;
    for (const std::wstring& line : WideLogLines()) lines.push_back(ToAnsi(line));
    return lines;
}

HWND TKesDriver::PreviewWindow() const { return FindTopLevelWindow(pi_.dwProcessId, KES_PREVIEW_CLASS, window_); }

std::wstring TKesDriver::PreviewText(int id) const {
    HWND control = GetDlgItem(PreviewWindow(), id);
    return ReadWideText(control, WM_GETTEXT, 0, SendMessageW(control, WM_GETTEXTLENGTH, 0, 0));
}

std::vector<std::vector<std::wstring>> TKesDriver::PreviewRows() const {
    HWND list = GetDlgItem(PreviewWindow(), IDC_PREVIEW_LIST);
    // The list fills the item it is sent, pointer to the text included, in
    // the program's own memory: the item and its text buffer are made there
    // and read back from there.
    constexpr int kChars = 1024;
    struct TRemoteItem {
        LVITEMW Item;
        wchar_t Text[kChars];
    };
    auto* remote = static_cast<TRemoteItem*>(
        VirtualAllocEx(pi_.hProcess, nullptr, sizeof(TRemoteItem), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    std::vector<std::vector<std::wstring>> rows;
    if (remote == nullptr) return rows;
    const int n = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    const int columns = static_cast<int>(SendMessageW(
        reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0)), HDM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
        std::vector<std::wstring> row;
        for (int column = 0; column < columns; ++column) {
            LVITEMW item{};
            item.iSubItem = column;
            item.pszText = remote->Text;
            item.cchTextMax = kChars;
            WriteProcessMemory(pi_.hProcess, &remote->Item, &item, sizeof item, nullptr);
            const LRESULT length = SendMessageW(list, LVM_GETITEMTEXTW, i, reinterpret_cast<LPARAM>(&remote->Item));
            std::wstring text(static_cast<size_t>(std::clamp<LRESULT>(length, 0, kChars)), L'\0');
            ReadProcessMemory(pi_.hProcess, remote->Text, text.data(), text.size() * sizeof(wchar_t), nullptr);
            row.push_back(text);
        }
        rows.push_back(row);
    }
    VirtualFreeEx(pi_.hProcess, remote, 0, MEM_RELEASE);
    return rows;
}

HWND TKesDriver::FindBoxWindow() const { return FindWindowOf(pi_.dwProcessId, "#32770"); }

bool TKesDriver::BoxOpen() const { return FindBoxWindow() != nullptr; }

bool TKesDriver::TakesInput() const {
    // A modal box disables its owner before it is made, so the window is
    // disabled by the time the box's loop reads this message.
    SendMessageA(window_, WM_NULL, 0, 0);
    return IsWindowEnabled(window_) && !BoxOpen();
}

bool TKesDriver::WaitBox(TBox& box, DWORD timeoutMs) const {
    HWND hwnd = nullptr;
    if (!WaitFor([&] { return (hwnd = FindBoxWindow()) != nullptr; }, timeoutMs)) return false;
    TChildScan scan;
    EnumChildWindows(hwnd, ScanBoxChild, reinterpret_cast<LPARAM>(&scan));
    box.Caption = WindowText(hwnd);
    box.Text = scan.Text != nullptr ? WindowText(scan.Text) : std::string();
    box.Icon = RecogniseIcon(scan.Icon);
    return true;
}

void TKesDriver::AnswerBox() const { AnswerDialog(IDOK); }

void TKesDriver::AnswerDialog(int button) const {
    HWND hwnd = FindBoxWindow();
    if (hwnd == nullptr) return;
    PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    WaitFor([&] { return FindBoxWindow() != hwnd; }, 5000);
}

namespace {
BOOL CALLBACK CollectStaticText(HWND hwnd, LPARAM param) {
    char cls[32] = "";
    GetClassNameA(hwnd, cls, sizeof cls);
    if (lstrcmpiA(cls, "Static") == 0) {
        const std::string text = WindowText(hwnd);
        if (!text.empty()) reinterpret_cast<std::vector<std::string>*>(param)->push_back(text);
    }
    return TRUE;
}
}  // namespace

std::vector<std::string> TKesDriver::DialogTexts() const {
    std::vector<std::string> texts;
    HWND hwnd = FindBoxWindow();
    if (hwnd != nullptr) EnumChildWindows(hwnd, CollectStaticText, reinterpret_cast<LPARAM>(&texts));
    return texts;
}

TBox TKesDriver::ExpectBox(DWORD timeoutMs) const {
    TBox box;
    if (WaitBox(box, timeoutMs)) AnswerBox();
    else box.Caption = "(no box)";
    return box;
}

bool TKesDriver::AnswerFileDialog(const std::string& fileName, DWORD timeoutMs) const {
    return AnswerFileDialog(WidePath(fileName), timeoutMs);
}

bool TKesDriver::AnswerFileDialog(const std::wstring& fileName, DWORD timeoutMs) const {
    HWND dialog = nullptr;
    if (!WaitFor([&] { return (dialog = FindBoxWindow()) != nullptr; }, timeoutMs)) return false;
    // The file name field: a combo box in the newer dialog, an edit field in
    // the older one.
    HWND field = GetDlgItem(dialog, 0x47C);
    if (field == nullptr) field = GetDlgItem(dialog, 0x480);
    if (field == nullptr) return false;
    SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(fileName.c_str()));
    AnswerDialog(IDOK);
    return true;
}

HWND TKesDriver::FocusWindow() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(pi_.dwThreadId, &info)) return nullptr;
    return info.hwndFocus;
}

int TKesDriver::FocusId() const {
    HWND focus = FocusWindow();
    return focus != nullptr && GetParent(focus) == window_ ? GetDlgCtrlID(focus) : 0;
}

void TKesDriver::PostKey(UINT virtualKey) const {
    HWND focus = FocusWindow();
    PostMessageA(focus, WM_KEYDOWN, virtualKey, 1);
    PostMessageA(focus, WM_KEYUP, virtualKey, 0xC0000001);
}

bool TKesDriver::WaitEnabled(int id, DWORD timeoutMs) const {
    return WaitFor([&] { return IsEnabled(id); }, timeoutMs);
}

DWORD TKesDriver::WaitExit(DWORD timeoutMs) {
    if (WaitForSingleObject(pi_.hProcess, timeoutMs) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(pi_.hProcess, &code);
    return code;
}

SIZE_T TKesDriver::PeakWorkingSet() const {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(pi_.hProcess, &counters, sizeof counters)) return 0;
    return counters.PeakWorkingSetSize;
}

namespace {

double ClockMs() {
    static LARGE_INTEGER frequency{};
    if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The counter's "done / total". GetWindowTextW on another process's window
// reads the text the window server holds and sends the program nothing.
bool ReadCounter(HWND label, unsigned long& done, unsigned long& total) {
    wchar_t text[64] = L"";
    GetWindowTextW(label, text, 64);
    return swscanf(text, L"%lu / %lu", &done, &total) == 2;
}

}  // namespace

template <class TPost, class TCounter>
bool TKesDriver::TimedCommand(TPost post, TCounter counter, TRunTiming& timing, DWORD timeoutMs,
                              DWORD pollMs) const {
    timing = TRunTiming();
    HWND button = Control(IDC_BUTTON_START);
    const double start = ClockMs();
    post();
    bool started = false;
    bool collected = false;
    bool refused = false;
    const bool ended = WaitFor(
        [&] {
            const double now = ClockMs();
            const bool enabled = IsWindowEnabled(button) != FALSE;
            unsigned long done = 0, total = 0;
            if (!started) {
                started = !enabled;
                // A command the program refused (a box) never disables the button.
                refused = !started && now - start > 5000;
            }
            if (started && !collected && ReadCounter(counter(), done, total) && total > 0) {
                collected = true;
                timing.CollectMs = now - start;
                timing.Files = total;
            }
            if (started && enabled) timing.TotalMs = now - start;
            return refused || (started && enabled);
        },
        timeoutMs, pollMs);
    return ended && !refused && collected;
}

bool TKesDriver::TimedRun(TRunTiming& timing, DWORD timeoutMs, DWORD pollMs) const {
    HWND label = Control(IDC_LABEL_COUNT);
    return TimedCommand([this] { PostClick(IDC_BUTTON_START); }, [label] { return label; }, timing, timeoutMs,
                        pollMs);
}

bool TKesDriver::TimedPreview(TRunTiming& timing, DWORD timeoutMs, DWORD pollMs) const {
    // The preview's window exists (again) once the button is disabled.
    return TimedCommand([this] { PostMenu(IDM_PREVIEW); },
                        [this] { return GetDlgItem(PreviewWindow(), IDC_PREVIEW_COUNT); }, timing, timeoutMs,
                        pollMs);
}

bool TKesDriver::TimedUndo(TRunTiming& timing, const std::string& folder, const std::string& closingLine,
                           DWORD timeoutMs, DWORD pollMs) const {
    timing = TRunTiming();
    const double start = ClockMs();
    PostMenu(IDM_UNDO);
    if (!WaitFor([this] { return BoxOpen(); }, timeoutMs, pollMs)) return false;
    timing.CollectMs = ClockMs() - start;
    // Any other question would take back another run.
    const std::vector<std::string> texts = DialogTexts();
    if (std::none_of(texts.begin(), texts.end(),
                     [&](const std::string& text) { return text.find(folder) != std::string::npos; })) {
        AnswerDialog(IDNO);
        return false;
    }
    const double answered = ClockMs();
    AnswerDialog(IDYES);
    // The log is read only while the start button is enabled, before the
    // undo or after it: meanwhile the program is sent nothing.
    HWND button = Control(IDC_BUTTON_START);
    const bool ended = WaitFor(
        [&] {
            if (!IsWindowEnabled(button)) return false;
            const std::vector<std::wstring> log = WideLogLines();
            return !log.empty() && ToAnsi(log.back()) == closingLine;
        },
        timeoutMs, pollMs);
    timing.TotalMs = timing.CollectMs + (ClockMs() - answered);
    unsigned long done = 0;
    return ended && ReadCounter(Control(IDC_LABEL_COUNT), done, timing.Files) && done == timing.Files;
}

}  // namespace kes_test
