#include "kes_bat_form.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shlobj.h>

#include <cstring>
#include <stdexcept>

#include "Application.h"
#include "Kes_bat_data.h"
#include "Mbox_res.h"
#include "PathText.h"
#include "TextFile.h"
#include "kes_bat_ids.h"
#include "kes_bat_msg.h"
#include "kes_bat_texts.h"

TKesBatForm* KesBatForm = nullptr;

namespace {

constexpr int kClientWidth = 442;
constexpr int kClientHeight = 404;
constexpr int kItemHeight = 12;
constexpr UINT WM_APP_ACTIVATE = WM_APP + 1;
// How often the counter and the bar are redrawn during a run.
constexpr DWORD kProgressIntervalMs = 50;

enum TFontKind { Proportional, FixedPitch };

struct TControlSpec {
    const char* Name;
    const char* ClassName;
    int Id;
    int Left, Top, Width, Height;  // in the client area, or in GroupBox1
    const char* Caption;
    DWORD Style;
    DWORD ExStyle;
    TFontKind Font;
    bool InGroupBox;
    int Tag;
};

// GroupBox1's place: the controls inside it are given relative to it.
constexpr int kGroupLeft = 121, kGroupTop = 248;

// The window, top to bottom. Creation order is also the Tab order.
const TControlSpec kControls[] = {
    {"Bevel1", "STATIC", IDC_BEVEL1, 0, 0, 442, 6, "", SS_OWNERDRAW, 0, Proportional, false, 0},
    {"Label2", "STATIC", IDC_LABEL2, 8, 8, 225, 12, "１．ファイルに書き込みたいコメントを↓に書く",
     SS_LEFT, 0, Proportional, false, 0},
    {"Memo_Comment", "EDIT", IDC_MEMO_COMMENT, 8, 24, 426, 89, "",
     ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_WANTRETURN | WS_VSCROLL | WS_HSCROLL |
         WS_TABSTOP,
     WS_EX_CLIENTEDGE, FixedPitch, false, 0},
    {"Label3", "STATIC", IDC_LABEL3, 8, 123, 254, 12,
     "２．コメントを書き込みたいファイルの拡張子を選択", SS_LEFT, 0, Proportional, false, 0},
    {"ComboBox_Ext", "COMBOBOX", IDC_COMBOBOX_EXT, 8, 139, 266, 20, "",
     // Drawn by us, so that its field and items take exactly the heights
     // asked for, whatever the font's own height.
     CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS | WS_VSCROLL | WS_TABSTOP, 0, FixedPitch,
     false, 0},
    {"Button_Setting", "BUTTON", IDC_BUTTON_SETTING, 281, 136, 75, 25, "設定",
     BS_PUSHBUTTON | WS_TABSTOP, 0, Proportional, false, 1},
    {"Button_About", "BUTTON", IDC_BUTTON_ABOUT, 361, 136, 75, 25, "About",
     BS_PUSHBUTTON | WS_TABSTOP, 0, Proportional, false, 0},
    {"Label1", "STATIC", IDC_LABEL1, 8, 171, 296, 12,
     "３．コメントを書き込みたいファイルがあるディレクトリを指定", SS_LEFT, 0, Proportional, false, 0},
    {"Edit_Dir", "EDIT", IDC_EDIT_DIR, 8, 190, 394, 20, "", ES_AUTOHSCROLL | WS_TABSTOP,
     WS_EX_CLIENTEDGE, FixedPitch, false, 0},
    // A static, not a button: it must never take the focus from the field.
    {"SpeedButton1", "STATIC", IDC_SPEEDBUTTON1, 411, 189, 23, 22, "", SS_OWNERDRAW | SS_NOTIFY, 0,
     Proportional, false, 0},
    {"CheckBox_SubDir", "BUTTON", IDC_CHECKBOX_SUBDIR, 8, 216, 249, 17, "サブディレクトリも処理する",
     BS_AUTOCHECKBOX | WS_TABSTOP, 0, Proportional, false, 0},
    {"Label4", "STATIC", IDC_LABEL4, 8, 248, 52, 12, "４．実行！", SS_LEFT, 0, Proportional, false, 0},
    {"Button_Start", "BUTTON", IDC_BUTTON_START, 8, 266, 97, 25, "実行", BS_PUSHBUTTON | WS_TABSTOP,
     0, Proportional, false, 0},
    {"GroupBox1", "BUTTON", IDC_GROUPBOX1, 121, 248, 313, 49, "処理状況", BS_GROUPBOX, 0,
     Proportional, false, 0},
    {"Label_Count", "STATIC", IDC_LABEL_COUNT, 16, 24, 30, 12, "0 / 0", SS_LEFT, 0, FixedPitch, true,
     0},
    {"ProgressBar_Count", PROGRESS_CLASSA, IDC_PROGRESSBAR_COUNT, 100, 22, 200, 16, "", 0, 0,
     Proportional, true, 0},
    {"ListBox_Log", "LISTBOX", IDC_LISTBOX_LOG, 8, 304, 426, 76, "", WS_VSCROLL | WS_TABSTOP,
     WS_EX_CLIENTEDGE, FixedPitch, false, 0},
    {"StatusBar_Info", STATUSCLASSNAMEA, IDC_STATUSBAR_INFO, 0, 383, 442, 21, "",
     CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER, 0, Proportional, false, 0},
};

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
    {IDM_EXIT, 0, &TKesBatForm::Menu_ExitClick},
    {IDM_ABOUT, 0, &TKesBatForm::Menu_AboutClick},
};

HFONT MakeFont(const char* face) {
    return CreateFontA(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, face);
}

// The edit control's own procedure, under MemoProc. The field is subclassed
// by replacing its procedure rather than through the common controls'
// subclass chain: that chain keeps its data in a window property and looks
// it up on every message, and the run reads the field for every file, so
// under Wine, where each lookup is a round trip to its server, reading the
// comment cost more than reading a small file.
WNDPROC MemoEditProc = nullptr;

// The comment field would insert Tab into the text; here Tab moves the focus
// on, as everywhere else in the window. And a multi-line field closes its
// window on Escape, while Escape is how the user stops a run: the field
// leaves that key alone.
LRESULT CALLBACK MemoProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_GETDLGCODE: {
        const MSG* key = reinterpret_cast<const MSG*>(lParam);
        if (key != nullptr && key->message == WM_KEYDOWN && (key->wParam == VK_TAB || key->wParam == VK_ESCAPE))
            return DLGC_WANTCHARS | DLGC_HASSETSEL | DLGC_WANTARROWS;
        break;
    }
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE) return 0;
        break;
    case WM_CHAR:
        if (wParam == VK_ESCAPE) return 0;
        break;
    }
    return CallWindowProcA(MemoEditProc, hwnd, msg, wParam, lParam);
}

// The 17 x 17 open folder of SpeedButton1, drawn with GDI at (x, y); grey
// when the button is disabled.
void DrawOpenFolder(HDC dc, int x, int y, bool enabled) {
    const COLORREF outline = enabled ? RGB(0, 0, 0) : GetSysColor(COLOR_GRAYTEXT);
    const COLORREF back = enabled ? RGB(128, 128, 0) : GetSysColor(COLOR_BTNFACE);
    const COLORREF front = enabled ? RGB(255, 255, 0) : GetSysColor(COLOR_BTNHIGHLIGHT);
    CGdiObject pen(CreatePen(PS_SOLID, 1, outline));
    CGdiObject backBrush(CreateSolidBrush(back));
    CGdiObject frontBrush(CreateSolidBrush(front));
    HGDIOBJ oldPen = SelectObject(dc, pen.Get());
    HGDIOBJ oldBrush = SelectObject(dc, backBrush.Get());
    // The folder's back with its tab, then the opened front flap over it.
    const POINT backShape[] = {{x + 1, y + 14}, {x + 1, y + 3},  {x + 2, y + 2},  {x + 6, y + 2},
                               {x + 7, y + 4},  {x + 13, y + 4}, {x + 13, y + 14}};
    Polygon(dc, backShape, 7);
    SelectObject(dc, frontBrush.Get());
    const POINT frontShape[] = {{x + 1, y + 14}, {x + 4, y + 7}, {x + 16, y + 7}, {x + 13, y + 14}};
    Polygon(dc, frontShape, 4);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
}

}  // namespace

bool TRunEnvironment::EscapePressed() { return (GetAsyncKeyState(VK_ESCAPE) & 0x8000) != 0; }
void TRunEnvironment::ProcessMessages() { Application.ProcessMessages(); }
void TRunEnvironment::Beep(UINT type) { MessageBeep(type); }
DWORD TRunEnvironment::TickCount() { return GetTickCount(); }

namespace {
TRunEnvironment PlatformRunEnvironment;
}

TKesBatForm::TKesBatForm()
    : RunEnvironment(&PlatformRunEnvironment),
      font_(MakeFont("ＭＳ Ｐゴシック")),
      fixedFont_(MakeFont("ＭＳ ゴシック")) {}

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
    const DWORD exStyle = WS_EX_CONTROLPARENT;
    HMENU menu = LoadMenuA(instance, MAKEINTRESOURCEA(IDM_MAINMENU1));
    RECT r{0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&r, style, TRUE, exStyle);
    const int width = r.right - r.left, height = r.bottom - r.top;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;

    KesBatForm = this;
    CreateWindowExA(exStyle, KES_WINDOW_CLASS, KES_APP_TITLE, style, x, y, width, height, nullptr,
                    menu, instance, this);
    if (Handle == nullptr) throw std::runtime_error("the main window could not be created");
    ShowWindow(Handle, SW_SHOWNORMAL);
    UpdateWindow(Handle);
}

// The closed drop-down list is to be 20 pixels high overall. How its frame
// adds to the field's height differs between systems: set the usual, then
// measure and correct.
void TKesBatForm::FitComboBoxHeight() {
    HWND combo = Control(IDC_COMBOBOX_EXT);
    // Start from the usual frame of 6 pixels, then measure and correct.
    LRESULT request = 20 - 6;
    SendMessageA(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), request);
    for (int attempt = 0; attempt < 4; ++attempt) {
        RECT rc;
        GetWindowRect(combo, &rc);
        const LONG excess = rc.bottom - rc.top - 20;
        if (excess == 0 || excess >= request) return;
        request -= excess;
        SendMessageA(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), request);
    }
}

void TKesBatForm::CreateControls() {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    for (const TControlSpec& c : kControls) {
        const int left = c.Left + (c.InGroupBox ? kGroupLeft : 0);
        const int top = c.Top + (c.InGroupBox ? kGroupTop : 0);
        // A drop-down list's own height is that of its closed field; the
        // height given at creation is that of the opened list.
        const int height = c.Id == IDC_COMBOBOX_EXT ? 200 : c.Height;
        HWND control = CreateWindowExA(c.ExStyle, c.ClassName, c.Caption, WS_CHILD | WS_VISIBLE | c.Style,
                                       left, top, c.Width, height, Handle,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.Id)), instance,
                                       nullptr);
        if (control == nullptr) throw std::runtime_error(std::string("cannot create ") + c.Name);
        SetWindowLongPtrA(control, GWLP_USERDATA, c.Tag);
        SendMessageA(control, WM_SETFONT,
                     reinterpret_cast<WPARAM>(c.Font == FixedPitch ? fixedFont_.Get() : font_.Get()),
                     FALSE);
    }
    HWND log = Control(IDC_LISTBOX_LOG);
    SendMessageA(log, LB_SETITEMHEIGHT, 0, kItemHeight);
    // Set again after the item height, so that the list cuts its height to
    // whole lines of 12 pixels.
    SetWindowPos(log, nullptr, 0, 0, 426, 76, SWP_NOMOVE | SWP_NOZORDER);

    FitComboBoxHeight();
    SendMessageA(Control(IDC_STATUSBAR_INFO), SB_SIMPLE, TRUE, 0);
    SendMessageA(Control(IDC_MEMO_COMMENT), EM_SETLIMITTEXT, 0, 0);
    MemoEditProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(Control(IDC_MEMO_COMMENT), GWLP_WNDPROC,
                                                               reinterpret_cast<LONG_PTR>(MemoProc)));
    lastFocus_ = Control(IDC_MEMO_COMMENT);
}

void TKesBatForm::Close() { SendMessageA(Handle, WM_CLOSE, 0, 0); }

int TKesBatForm::SelectedIndex() const {
    return static_cast<int>(SendMessageA(Control(IDC_COMBOBOX_EXT), CB_GETCURSEL, 0, 0));
}

std::string TKesBatForm::Text(int id) const {
    HWND control = Control(id);
    std::string text(static_cast<size_t>(GetWindowTextLengthA(control)) + 1, '\0');
    text.resize(static_cast<size_t>(GetWindowTextA(control, &text[0], static_cast<int>(text.size()))));
    return text;
}

void TKesBatForm::SetText(int id, const std::string& text) { SetWindowTextA(Control(id), text.c_str()); }

void TKesBatForm::Enable(int id, bool enabled) { EnableWindow(Control(id), enabled); }

void TKesBatForm::AddLog(const std::string& line) {
    SendMessageA(Control(IDC_LISTBOX_LOG), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
}

void TKesBatForm::SetLabelCount(const std::string& text) {
    HWND label = Control(IDC_LABEL_COUNT);
    SetWindowTextA(label, text.c_str());
    // The counter's width follows its text.
    HDC dc = GetDC(label);
    HGDIOBJ old = SelectObject(dc, fixedFont_.Get());
    SIZE size{};
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(label, dc);
    SetWindowPos(label, nullptr, 0, 0, size.cx, kItemHeight, SWP_NOMOVE | SWP_NOZORDER);
}

// ---- Start-up -------------------------------------------------------------

void TKesBatForm::FormCreate(HWND) {
    Tag = 0;
    char exe[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, exe, sizeof exe);
    if (!KesBat.ScanDirectory(ExtractFilePath(std::string(exe, n)), "*.cpi")) Tag = -1;
    try {
        FileList = std::make_unique<std::deque<TQueuedPath>>();
    } catch (...) {
        Tag = -2;
    }
}

void TKesBatForm::FormShow(HWND) {
    if (Tag != 0) return;
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
    if (Tag == 0) return;
    if (Tag == -2)
        MsgBoxRes(IDS_MEMORY_ERROR, IDS_CAPTION_WARNING, MB_ICONEXCLAMATION);
    else if (Tag == -1)
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

void TKesBatForm::ComboBox_ExtChange(HWND) { UpdatePluginButtons(SelectedIndex()); }

void TKesBatForm::Button_SettingClick(HWND sender) {
    if (running_) return;
    const int mode = static_cast<int>(GetWindowLongPtrA(sender, GWLP_USERDATA));
    if (!KesBat.ShowPluginDialog(Handle, SelectedIndex(), mode))
        MsgBoxRes(IDS_PLUGIN_LOAD_FAILED, IDS_CAPTION_WARNING, MB_ICONEXCLAMATION);
}

// ---- The directory, the comment text, the menu ------------------------------

void TKesBatForm::SpeedButton1Click(HWND) {
    const std::string caption = LoadResString(IDS_CHOOSE_DIR);
    BROWSEINFOA info{};
    info.hwndOwner = Handle;
    info.lpszTitle = caption.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    std::unique_ptr<ITEMIDLIST, decltype(&CoTaskMemFree)> folder(SHBrowseForFolderA(&info),
                                                                 CoTaskMemFree);
    if (!folder) return;
    char path[MAX_PATH];
    if (!SHGetPathFromIDListA(folder.get(), path)) return;
    SetText(IDC_EDIT_DIR, IncludeTrailingPathDelimiter(path));
}

void TKesBatForm::Menu_LoadTextClick(HWND) {
    char file[MAX_PATH] = "";
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = Handle;
    ofn.lpstrFilter = KES_OPEN_FILTER;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file;
    ofn.nMaxFile = sizeof file;
    ofn.lpstrTitle = KES_OPEN_TITLE;
    ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING;
    if (!GetOpenFileNameA(&ofn)) return;

    const std::string text = ReadCommentText(file);
    SetText(IDC_MEMO_COMMENT, text);
    if (Text(IDC_MEMO_COMMENT) != text) throw std::runtime_error(KES_TEXT_TOO_LONG + std::string(file));
}

void TKesBatForm::Menu_AboutClick(HWND) { MsgBoxText(KES_ABOUT_TEXT, IDS_CAPTION_INFO, MB_ICONINFORMATION); }

void TKesBatForm::Menu_ExitClick(HWND) { Close(); }

// ---- The batch run ----------------------------------------------------------

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

// ---- Messages ---------------------------------------------------------------

void TKesBatForm::DrawItem(const DRAWITEMSTRUCT& item) {
    RECT r = item.rcItem;
    if (item.CtlID == IDC_COMBOBOX_EXT) {
        const bool selected = (item.itemState & ODS_SELECTED) != 0;
        char text[256] = "";
        if (item.itemID != static_cast<UINT>(-1) &&
            SendMessageA(item.hwndItem, CB_GETLBTEXTLEN, item.itemID, 0) < static_cast<LRESULT>(sizeof text))
            SendMessageA(item.hwndItem, CB_GETLBTEXT, item.itemID, reinterpret_cast<LPARAM>(text));
        HGDIOBJ old = SelectObject(item.hDC, fixedFont_.Get());
        SetBkColor(item.hDC, GetSysColor(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
        SetTextColor(item.hDC, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
        ExtTextOutA(item.hDC, r.left + 2, r.top, ETO_OPAQUE | ETO_CLIPPED, &r, text,
                    static_cast<UINT>(strlen(text)), nullptr);
        if (item.itemState & ODS_FOCUS) DrawFocusRect(item.hDC, &r);
        SelectObject(item.hDC, old);
        return;
    }
    if (item.CtlID == IDC_BEVEL1) {
        // One etched line along the top, below the menu bar.
        DrawEdge(item.hDC, &r, EDGE_ETCHED, BF_TOP);
        return;
    }
    const bool enabled = IsWindowEnabled(item.hwndItem) != FALSE;
    FillRect(item.hDC, &r, GetSysColorBrush(COLOR_BTNFACE));
    DrawEdge(item.hDC, &r, EDGE_RAISED, BF_RECT);
    DrawOpenFolder(item.hDC, r.left + (r.right - r.left - 17) / 2, r.top + (r.bottom - r.top - 17) / 2,
                   enabled);
}

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
    case WM_DRAWITEM:
        DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_MEASUREITEM:
        // The list's items are 12 pixels high; its closed field is set apart.
        reinterpret_cast<MEASUREITEMSTRUCT*>(lParam)->itemHeight = kItemHeight;
        return TRUE;
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
    case WM_NCDESTROY:
        Handle = nullptr;
        break;
    }
    return DefWindowProcA(Handle, msg, wParam, lParam);
}

LRESULT CALLBACK TKesBatForm::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    TKesBatForm* form;
    if (msg == WM_NCCREATE) {
        form = static_cast<TKesBatForm*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        form->Handle = hwnd;
        Application.MainWindow = hwnd;
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    } else {
        form = reinterpret_cast<TKesBatForm*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    }
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
