// The main window: its creation, its handlers for start-up, the file type,
// the folder, the menu and the plug-in dialogs, and its one message
// function. The controls are built in kes_bat_layout.cpp, the run is in
// kes_bat_run.cpp.
#include "kes_bat_form.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shlobj.h>
#include <windowsx.h>

#include <optional>
#include <stdexcept>

#include "Application.h"
#include "Clipboard.h"
#include "Kes_bat_data.h"
#include "Mbox_res.h"
#include "PathText.h"
#include "TextFile.h"
#include "WindowObject.h"
#include "kes_bat_ids.h"
#include "kes_bat_msg.h"
#include "kes_bat_preview.h"
#include "kes_bat_texts.h"

TKesBatForm* KesBatForm = nullptr;

namespace {

constexpr int kClientWidth = 442;
constexpr int kClientHeight = 404;
constexpr UINT WM_APP_ACTIVATE = WM_APP + 1;

// Which handler a command from a control or the menu reaches.
struct TCommandSpec {
    int Id;
    int Code;
    void (TKesBatForm::*Handler)(HWND sender);
};

const TCommandSpec kCommands[] = {
    {IDC_COMBOBOX_EXT, CBN_SELCHANGE, &TKesBatForm::ComboBox_ExtChange},
    {IDC_BUTTON_SETTING, BN_CLICKED, &TKesBatForm::Button_SettingClick},
    {IDC_BUTTON_ABOUT, BN_CLICKED, &TKesBatForm::Button_SettingClick},
    {IDC_SPEEDBUTTON1, STN_CLICKED, &TKesBatForm::SpeedButton1Click},
    {IDC_BUTTON_START, BN_CLICKED, &TKesBatForm::Button_StartClick},
    {IDM_LOAD_TEXT, 0, &TKesBatForm::Menu_LoadTextClick},
    {IDM_PREVIEW, 0, &TKesBatForm::Menu_PreviewClick},
    {IDM_EXIT, 0, &TKesBatForm::Menu_ExitClick},
    {IDM_ABOUT, 0, &TKesBatForm::Menu_AboutClick},
    {IDM_COPY_LOG, 0, &TKesBatForm::Menu_CopyLogClick},
    {IDM_UNDO, 0, &TKesBatForm::Menu_UndoClick},
};

// The standard character height, 12 pixels at 96 DPI.
HFONT MakeFont(const char* face, int dpi) {
    return CreateFontA(-ScaleToDpi(12, dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                       SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, face);
}


}  // namespace

// The DPI the window is drawn at: its own where the system tells it
// (Windows 10 on, through a function that older systems lack), else the
// system's, which is what a system-aware program is drawn at everywhere.
int WindowDpi(HWND window) {
    using TGetDpiForWindow = UINT(WINAPI*)(HWND);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wcast-function-type"
    const auto getDpiForWindow = reinterpret_cast<TGetDpiForWindow>(
        GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow"));
#pragma GCC diagnostic pop
    if (getDpiForWindow != nullptr) {
        const UINT dpi = getDpiForWindow(window);
        if (dpi != 0) return static_cast<int>(dpi);
    }
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi;
}

TWindowFonts::TWindowFonts(int dpi)
    : Proportional(MakeFont("ＭＳ Ｐゴシック", dpi)), FixedPitch(MakeFont("ＭＳ ゴシック", dpi)) {}

TKesBatForm::TKesBatForm() : RunEnvironment(&TRunEnvironment::Platform()) {}

TKesBatForm::~TKesBatForm() {
    if (Handle != nullptr) DestroyWindow(Handle);
    if (KesBatForm == this) KesBatForm = nullptr;
}

void TKesBatForm::Create() {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_KES_BAT));
    wc.hIconSm = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(IDI_KES_BAT), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), 0));
    wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512) /* IDC_ARROW */);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = KES_WINDOW_CLASS;
    RegisterClassExA(&wc);

    // A fixed border with the system menu and minimise only: no resizing,
    // no maximise.
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    // Folders and files dropped anywhere on it, the folder field included.
    const DWORD exStyle = WS_EX_CONTROLPARENT | WS_EX_ACCEPTFILES;
    HMENU menu = LoadMenuA(instance, MAKEINTRESOURCEA(IDM_MAINMENU1));

    KesBatForm = this;
    // Its DPI is known once it exists: made hidden, then sized and centred.
    CreateWindowExA(exStyle, KES_WINDOW_CLASS, KES_APP_TITLE, style, 0, 0, kClientWidth, kClientHeight,
                    nullptr, menu, instance, this);
    if (Handle == nullptr) throw std::runtime_error("the main window could not be created");
    FitClientArea();
    ShowWindow(Handle, SW_SHOWNORMAL);
    UpdateWindow(Handle);
}

// The client area takes the layout's size at the window's DPI, centred on
// the screen. The frame and the menu bar are whatever the system draws at
// that DPI, so they are measured rather than computed.
void TKesBatForm::FitClientArea() {
    RECT window, client;
    GetWindowRect(Handle, &window);
    GetClientRect(Handle, &client);
    const int width = Scale(kClientWidth) + (window.right - window.left) - client.right;
    const int height = Scale(kClientHeight) + (window.bottom - window.top) - client.bottom;
    SetWindowPos(Handle, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

// On a monitor of another scale: the system suggests the rectangle that
// keeps the window where it was, at the new size; the controls and their
// fonts are made for the new DPI.
void TKesBatForm::FormDpiChanged(int dpi, const RECT& suggested) {
    dpi_ = dpi;
    // The old fonts go only once every control has the new ones.
    const std::unique_ptr<TWindowFonts> old = std::move(fonts_);
    fonts_ = std::make_unique<TWindowFonts>(dpi_);
    LayoutControls();
    SetWindowPos(Handle, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void TKesBatForm::Close() { SendMessageA(Handle, WM_CLOSE, 0, 0); }

int TKesBatForm::SelectedIndex() const {
    return static_cast<int>(SendMessageA(Control(IDC_COMBOBOX_EXT), CB_GETCURSEL, 0, 0));
}

std::wstring TKesBatForm::Text(int id) const {
    HWND control = Control(id);
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(control, &text[0], static_cast<int>(text.size()))));
    return text;
}

void TKesBatForm::SetText(int id, const std::wstring& text) { SetWindowTextW(Control(id), text.c_str()); }

void TKesBatForm::Enable(int id, bool enabled) { EnableWindow(Control(id), enabled); }

// ---- Start-up -------------------------------------------------------------

void TKesBatForm::FormCreate(HWND) {
    // Before anything else: what a crash of an earlier start cut short is
    // finished or undone.
    RecoverUnfinished(RunEnvironment->JournalFolder());
    Tag = TagReady;
    // Wide and of any length: the tool may be unpacked anywhere.
    std::wstring exe(MAX_PATH, L'\0');
    DWORD n;
    while ((n = GetModuleFileNameW(nullptr, exe.data(), static_cast<DWORD>(exe.size()))) == exe.size())
        exe.resize(exe.size() * 2);
    exe.resize(n);
    if (!KesBat.ScanDirectory(TFilePath(exe).Folder(), L"*.cpi")) Tag = TagNoPlugin;
    try {
        FileList = std::make_unique<std::deque<TQueuedPath>>();
    } catch (...) {
        Tag = TagNoFileList;
    }
}

void TKesBatForm::FormShow(HWND) {
    if (Tag != TagReady) return;
    HWND combo = Control(IDC_COMBOBOX_EXT);
    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    for (int i = 0; i < KesBat.Count(); ++i) {
        const std::string item = KesBat.GetDescription(i) + " (" + KesBat.GetPatterns(i) + ")";
        SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
    }
    // Selecting from code raises no change event.
    SendMessageA(combo, CB_SETCURSEL, 0, 0);
    UpdatePluginButtons(SelectedIndex());
}

void TKesBatForm::FormActivate(HWND) {
    if (Tag == TagReady) return;
    if (Tag == TagNoFileList)
        MsgBoxRes(IDS_MEMORY_ERROR, IDS_CAPTION_WARNING, MB_ICONEXCLAMATION);
    else if (Tag == TagNoPlugin)
        MsgBoxRes(IDS_NO_PLUGIN, IDS_CAPTION_WARNING, MB_ICONEXCLAMATION);
    KesBatForm->Close();
}

void TKesBatForm::FormClose(HWND) { FileList.reset(); }

// ---- The file type and its plug-in ------------------------------------------

void TKesBatForm::UpdatePluginButtons(int index) {
    // During a run the plug-in dialogs wait, whatever type is chosen: they
    // would load another module into the slot that the run writes through.
    const int flags = running_ ? 0 : KesBat.GetFlags(index);
    Enable(IDC_BUTTON_ABOUT, (flags & CapAbout) != 0);
    Enable(IDC_BUTTON_SETTING, (flags & CapSettings) != 0);
}

void TKesBatForm::SetRunning(bool running) {
    running_ = running;
    Enable(IDC_BUTTON_START, !running);
    for (const int item : {IDM_PREVIEW, IDM_UNDO})
        EnableMenuItem(GetMenu(Handle), item, MF_BYCOMMAND | (running ? MF_GRAYED : MF_ENABLED));
    UpdatePluginButtons(SelectedIndex());
}

void TKesBatForm::ComboBox_ExtChange(HWND) { UpdatePluginButtons(SelectedIndex()); }

void TKesBatForm::Button_SettingClick(HWND sender) {
    if (running_) return;
    const int mode = static_cast<int>(GetWindowLongPtrA(sender, GWLP_USERDATA));
    if (!KesBat.ShowPluginDialog(Handle, SelectedIndex(), mode))
        MsgBoxRes(IDS_PLUGIN_LOAD_FAILED, IDS_CAPTION_WARNING, MB_ICONEXCLAMATION);
}

// ---- The directory, the comment text, the menu ------------------------------

void TKesBatForm::SpeedButton1Click(HWND) {
    const std::wstring caption = WidePath(LoadResString(IDS_CHOOSE_DIR));
    BROWSEINFOW info{};
    info.hwndOwner = Handle;
    info.lpszTitle = caption.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    std::unique_ptr<ITEMIDLIST, decltype(&CoTaskMemFree)> folder(SHBrowseForFolderW(&info), CoTaskMemFree);
    if (!folder) return;
    // UTF-16 and of any length: the code page's form of a folder may name
    // another folder ("café" as "cafe", "¥" as "\").
    PWSTR path = nullptr;
    if (FAILED(SHGetNameFromIDList(folder.get(), SIGDN_FILESYSPATH, &path))) return;
    const std::unique_ptr<wchar_t, decltype(&CoTaskMemFree)> owned(path, CoTaskMemFree);
    SetText(IDC_EDIT_DIR, TFilePath(path).WithTrailingDelimiter().Text());
}

void TKesBatForm::Menu_LoadTextClick(HWND) {
    std::wstring file(32768, L'\0');
    const std::wstring filter = WidePath(std::string(KES_OPEN_FILTER, sizeof KES_OPEN_FILTER));
    const std::wstring title = WidePath(KES_OPEN_TITLE);
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = Handle;
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrTitle = title.c_str();
    ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING;
    if (!GetOpenFileNameW(&ofn)) return;
    file.resize(wcslen(file.c_str()));

    const std::optional<std::wstring> text = ReadCommentText(TFilePath(file));
    if (!text) {
        MsgBoxRes(IDS_TEXT_FILE_ENCODING, IDS_CAPTION_WARNING, MB_ICONEXCLAMATION);
        return;
    }
    SetText(IDC_MEMO_COMMENT, *text);
    if (Text(IDC_MEMO_COMMENT) != *text) throw TUserError(WidePath(KES_TEXT_TOO_LONG) + file);
}

void TKesBatForm::Menu_AboutClick(HWND) { MsgBoxText(KES_ABOUT_TEXT, IDS_CAPTION_INFO, MB_ICONINFORMATION); }

void TKesBatForm::Menu_ExitClick(HWND) { Close(); }

// ---- The log and drops --------------------------------------------------------

void TKesBatForm::Menu_CopyLogClick(HWND) {
    HWND log = Control(IDC_LISTBOX_LOG);
    const int lines = static_cast<int>(SendMessageW(log, LB_GETCOUNT, 0, 0));
    std::wstring text;
    for (int i = 0; i < lines; ++i) {
        std::wstring line(static_cast<size_t>(SendMessageW(log, LB_GETTEXTLEN, i, 0)) + 1, L'\0');
        line.resize(static_cast<size_t>(SendMessageW(log, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&line[0]))));
        text += line + L"\r\n";
    }
    if (!text.empty() && !CopyText(Handle, text)) MessageBeep(MB_ICONEXCLAMATION);
}

void TKesBatForm::ListBox_LogContextPopup(POINT at) {
    HWND log = Control(IDC_LISTBOX_LOG);
    // From the keyboard (Shift+F10, the menu key) there is no mouse point.
    if (at.x == -1 && at.y == -1) {
        at = {0, 0};
        ClientToScreen(log, &at);
    }
    CMenu menu(CreatePopupMenu());
    const bool empty = SendMessageA(log, LB_GETCOUNT, 0, 0) <= 0;
    AppendMenuA(menu.Get(), MF_STRING | (empty ? MF_GRAYED : 0), IDM_COPY_LOG, KES_COPY_LOG);
    TrackPopupMenu(menu.Get(), TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, Handle, nullptr);
}

bool TKesBatForm::ListBox_LogKeyDown(UINT key) {
    if (key != 'C' || GetKeyState(VK_CONTROL) >= 0) return false;
    Menu_CopyLogClick(Control(IDC_LISTBOX_LOG));
    return true;
}

// A dropped folder goes into the folder field as the folder picker puts it,
// with one trailing "\"; a dropped file gives its folder. A run's folder is
// fixed, so a drop during a run is ignored.
void TKesBatForm::FormDropFiles(HDROP drop) {
    const CDrop finish(drop);
    if (running_) return;
    const UINT length = DragQueryFileW(drop, 0, nullptr, 0);
    if (length == 0) return;
    std::wstring wide(length + 1, L'\0');
    wide.resize(DragQueryFileW(drop, 0, &wide[0], length + 1));
    const TFilePath path(wide);
    const DWORD attributes = GetFileAttributesW(path.Win32().c_str());
    const bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    SetText(IDC_EDIT_DIR, (folder ? path.WithTrailingDelimiter() : path.Folder()).Text());
}

// ---- Messages ---------------------------------------------------------------

bool TKesBatForm::Command(int id, int code, HWND sender) {
    for (const TCommandSpec& c : kCommands) {
        if (c.Id == id && c.Code == code) {
            (this->*c.Handler)(sender);
            return true;
        }
    }
    return false;
}

LRESULT TKesBatForm::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CREATE:
        dpi_ = WindowDpi(Handle);
        fonts_ = std::make_unique<TWindowFonts>(dpi_);
        CreateControls();
        FormCreate(Handle);
        return 0;
    case WM_SHOWWINDOW:
        if (wParam) FormShow(Handle);
        break;
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) {
            lastFocus_ = GetFocus();
        } else {
            if (lastFocus_ != nullptr && IsChild(Handle, lastFocus_)) SetFocus(lastFocus_);
            // Reported once the activation itself is over, so that a box
            // shown from the handler does not nest inside it.
            PostMessageA(Handle, WM_APP_ACTIVATE, 0, 0);
        }
        return 0;
    case WM_APP_ACTIVATE:
        FormActivate(Handle);
        return 0;
    case WM_COMMAND:
        if (Command(LOWORD(wParam), lParam != 0 ? HIWORD(wParam) : 0, reinterpret_cast<HWND>(lParam)))
            return 0;
        break;
    case WM_DPICHANGED:
        FormDpiChanged(LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_DRAWITEM:
        DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_MEASUREITEM:
        MeasureItem(*reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_VKEYTOITEM:
        // -2: handled; -1: the list does what it always does with the key.
        if (reinterpret_cast<HWND>(lParam) == Control(IDC_LISTBOX_LOG) && ListBox_LogKeyDown(LOWORD(wParam)))
            return -2;
        return -1;
    case WM_CONTEXTMENU:
        if (reinterpret_cast<HWND>(wParam) != Control(IDC_LISTBOX_LOG)) break;
        ListBox_LogContextPopup(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
        return 0;
    case WM_DROPFILES:
        FormDropFiles(reinterpret_cast<HDROP>(wParam));
        return 0;
    case WM_CLOSE:
        if (running_) {
            closeRequested_ = true;
            return 0;
        }
        FormClose(Handle);
        DestroyWindow(Handle);
        return 0;
    case WM_DESTROY:
        Application.MainWindow = nullptr;
        PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY: {
        // The last message: the window's own cleanup still needs its handle.
        HWND window = Handle;
        Handle = nullptr;
        return DefWindowProcA(window, msg, wParam, lParam);
    }
    }
    return DefWindowProcA(Handle, msg, wParam, lParam);
}

LRESULT CALLBACK TKesBatForm::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    TKesBatForm* form = WindowObject<TKesBatForm>(hwnd, msg, lParam);
    if (msg == WM_NCCREATE) Application.MainWindow = hwnd;
    if (form == nullptr) return DefWindowProcA(hwnd, msg, wParam, lParam);
    // An error must not cross into the system's code that called us: it is
    // shown here and the program carries on.
    try {
        return form->HandleMessage(msg, wParam, lParam);
    } catch (const std::exception& e) {
        Application.ShowException(e);
    } catch (...) {
        Application.ShowException(std::runtime_error("unexpected error"));
    }
    return 0;
}
