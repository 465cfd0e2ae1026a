// The window's controls, described as one table and built from it, and the
// controls the program draws itself.
#include "kes_bat_form.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <stdexcept>

#include "Mbox_res.h"
#include "PathText.h"
#include "kes_bat_ids.h"
#include "kes_bat_msg.h"

namespace {

// The list's and the log's items, and the counter's line.
constexpr int kItemHeight = 12;
// The type list opened: its height, with the closed field's.
constexpr int kComboListHeight = 200;
// The closed type list, frame and field together.
constexpr int kComboFieldHeight = 20;

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

// The window, top to bottom, at 96 DPI; every length is scaled to the
// window's DPI. Creation order is also the Tab order, and screen readers
// name a list or a field without text of its own by the label that comes
// just before it in this order.
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
    // Its keys reach the window too, for Ctrl+C.
    {"ListBox_Log", "LISTBOX", IDC_LISTBOX_LOG, 8, 304, 426, 76, "", WS_VSCROLL | WS_TABSTOP | LBS_WANTKEYBOARDINPUT,
     WS_EX_CLIENTEDGE, FixedPitch, false, 0},
    {"StatusBar_Info", STATUSCLASSNAMEA, IDC_STATUSBAR_INFO, 0, 383, 442, 21, "",
     CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER, 0, Proportional, false, 0},
};

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
    return CallWindowProcW(MemoEditProc, hwnd, msg, wParam, lParam);
}

// A control's place at the given DPI. Its edges are scaled rather than its
// size, so that controls that meet at 96 DPI still meet.
RECT Place(const TControlSpec& c, int dpi) {
    const int left = c.Left + (c.InGroupBox ? kGroupLeft : 0);
    const int top = c.Top + (c.InGroupBox ? kGroupTop : 0);
    // A drop-down list's own height is that of its closed field; the
    // height given for it is that of the opened list.
    const int height = c.Id == IDC_COMBOBOX_EXT ? kComboListHeight : c.Height;
    return RECT{ScaleToDpi(left, dpi), ScaleToDpi(top, dpi), ScaleToDpi(left + c.Width, dpi),
                ScaleToDpi(top + height, dpi)};
}

const TControlSpec& SpecOf(int id) {
    return *std::find_if(std::begin(kControls), std::end(kControls),
                         [id](const TControlSpec& c) { return c.Id == id; });
}

// A line one pixel wide at 96 DPI: whole pixels only, as the system's own
// lines, so that it stays crisp between the whole scales.
int LineWidth(int dpi) { return std::max(1, dpi / USER_DEFAULT_SCREEN_DPI); }

constexpr int kFolderSize = 17;

// The 17 x 17 open folder of SpeedButton1 at 96 DPI, drawn with GDI at
// (x, y) and scaled to the DPI; grey when the button is disabled.
void DrawOpenFolder(HDC dc, int x, int y, int dpi, bool enabled) {
    const COLORREF outline = enabled ? RGB(0, 0, 0) : GetSysColor(COLOR_GRAYTEXT);
    const COLORREF back = enabled ? RGB(128, 128, 0) : GetSysColor(COLOR_BTNFACE);
    const COLORREF front = enabled ? RGB(255, 255, 0) : GetSysColor(COLOR_BTNHIGHLIGHT);
    const auto at = [x, y, dpi](int dx, int dy) { return POINT{x + ScaleToDpi(dx, dpi), y + ScaleToDpi(dy, dpi)}; };
    CGdiObject pen(CreatePen(PS_SOLID, LineWidth(dpi), outline));
    CGdiObject backBrush(CreateSolidBrush(back));
    CGdiObject frontBrush(CreateSolidBrush(front));
    HGDIOBJ oldPen = SelectObject(dc, pen.Get());
    HGDIOBJ oldBrush = SelectObject(dc, backBrush.Get());
    // The folder's back with its tab, then the opened front flap over it.
    const POINT backShape[] = {at(1, 14), at(1, 3), at(2, 2), at(6, 2), at(7, 4), at(13, 4), at(13, 14)};
    Polygon(dc, backShape, 7);
    SelectObject(dc, frontBrush.Get());
    const POINT frontShape[] = {at(1, 14), at(4, 7), at(16, 7), at(13, 14)};
    Polygon(dc, frontShape, 4);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
}

}  // namespace

// The closed drop-down list is to be 20 pixels high overall at 96 DPI. How
// its frame adds to the field's height differs between systems: set the
// usual, then measure and correct.
void TKesBatForm::FitComboBoxHeight() {
    HWND combo = Control(IDC_COMBOBOX_EXT);
    const int wanted = Scale(kComboFieldHeight);
    // Start from the usual frame of 6 pixels, then measure and correct.
    LRESULT request = wanted - 6;
    SendMessageA(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), request);
    for (int attempt = 0; attempt < 4; ++attempt) {
        RECT rc;
        GetWindowRect(combo, &rc);
        const LONG excess = rc.bottom - rc.top - wanted;
        if (excess == 0 || excess >= request) return;
        request -= excess;
        SendMessageA(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), request);
    }
}

void TKesBatForm::CreateControls() {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    for (const TControlSpec& c : kControls) {
        const RECT r = Place(c, dpi_);
        // Unicode controls: the comment field, the folder field and the log
        // hold names and texts of any characters.
        HWND control = CreateWindowExW(c.ExStyle, WidePath(c.ClassName).c_str(), WidePath(c.Caption).c_str(),
                                       WS_CHILD | WS_VISIBLE | c.Style,
                                       r.left, r.top, r.right - r.left, r.bottom - r.top, Handle,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.Id)), instance,
                                       nullptr);
        if (control == nullptr) throw std::runtime_error(std::string("cannot create ") + c.Name);
        SetWindowLongPtrA(control, GWLP_USERDATA, c.Tag);
    }
    NameFolderButton();
    LayoutControls();
    SendMessageA(Control(IDC_STATUSBAR_INFO), SB_SIMPLE, TRUE, 0);
    SendMessageA(Control(IDC_MEMO_COMMENT), EM_SETLIMITTEXT, 0, 0);
    // Set wide: a procedure set through the "A" call would make the field
    // an ANSI window, and characters the code page lacks would be lost.
    MemoEditProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(Control(IDC_MEMO_COMMENT), GWLP_WNDPROC,
                                                               reinterpret_cast<LONG_PTR>(MemoProc)));
    lastFocus_ = Control(IDC_MEMO_COMMENT);
}

// Every control at its place and with its font for the window's DPI, and
// what follows from the font: item heights, the counter's width. Run once
// the controls exist and again whenever the DPI changes.
void TKesBatForm::LayoutControls() {
    for (const TControlSpec& c : kControls) {
        HWND control = Control(c.Id);
        const RECT r = Place(c, dpi_);
        SetWindowPos(control, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        const CGdiObject& font = c.Font == FixedPitch ? fonts_->FixedPitch : fonts_->Proportional;
        SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), TRUE);
    }
    SendMessageA(toolTip_, WM_SETFONT, reinterpret_cast<WPARAM>(fonts_->Proportional.Get()), FALSE);

    HWND log = Control(IDC_LISTBOX_LOG);
    SendMessageA(log, LB_SETITEMHEIGHT, 0, Scale(kItemHeight));
    // Sized again after the item height, so that the list cuts its height
    // to whole lines.
    const RECT r = Place(SpecOf(IDC_LISTBOX_LOG), dpi_);
    SetWindowPos(log, nullptr, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

    SendMessageA(Control(IDC_COMBOBOX_EXT), CB_SETITEMHEIGHT, 0, Scale(kItemHeight));
    FitComboBoxHeight();
    // The counter's width follows its text, in the new font.
    char count[64] = "";
    GetWindowTextA(Control(IDC_LABEL_COUNT), count, sizeof count);
    SetLabelCount(count);
}

// The folder button shows only its picture. Its window text, which the
// system hands to screen readers, and its tooltip are the folder picker's
// own instruction.
void TKesBatForm::NameFolderButton() {
    const std::string name = LoadResString(IDS_CHOOSE_DIR);
    HWND button = Control(IDC_SPEEDBUTTON1);
    SetWindowTextA(button, name.c_str());
    toolTip_ = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, Handle, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
    TTTOOLINFOA tool{};
    tool.cbSize = sizeof tool;
    // The tooltip watches the button's mouse messages itself.
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = Handle;
    tool.uId = reinterpret_cast<UINT_PTR>(button);
    tool.lpszText = const_cast<char*>(name.c_str());
    SendMessageA(toolTip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

void TKesBatForm::SetLabelCount(const std::string& text) {
    HWND label = Control(IDC_LABEL_COUNT);
    SetWindowTextA(label, text.c_str());
    // The counter's width follows its text.
    HDC dc = GetDC(label);
    HGDIOBJ old = SelectObject(dc, fonts_->FixedPitch.Get());
    SIZE size{};
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(label, dc);
    SetWindowPos(label, nullptr, 0, 0, size.cx, Scale(kItemHeight), SWP_NOMOVE | SWP_NOZORDER);
}

void TKesBatForm::DrawItem(const DRAWITEMSTRUCT& item) {
    RECT r = item.rcItem;
    if (item.CtlID == IDC_COMBOBOX_EXT) {
        const bool selected = (item.itemState & ODS_SELECTED) != 0;
        char text[256] = "";
        if (item.itemID != static_cast<UINT>(-1) &&
            SendMessageA(item.hwndItem, CB_GETLBTEXTLEN, item.itemID, 0) < static_cast<LRESULT>(sizeof text))
            SendMessageA(item.hwndItem, CB_GETLBTEXT, item.itemID, reinterpret_cast<LPARAM>(text));
        HGDIOBJ old = SelectObject(item.hDC, fonts_->FixedPitch.Get());
        SetBkColor(item.hDC, GetSysColor(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
        SetTextColor(item.hDC, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
        ExtTextOutA(item.hDC, r.left + Scale(2), r.top, ETO_OPAQUE | ETO_CLIPPED, &r, text,
                    static_cast<UINT>(strlen(text)), nullptr);
        if (item.itemState & ODS_FOCUS) DrawFocusRect(item.hDC, &r);
        SelectObject(item.hDC, old);
        return;
    }
    if (item.CtlID == IDC_BEVEL1) {
        // One etched line along the top, below the menu bar: a dark line
        // over a light one.
        const int line = LineWidth(dpi_);
        const RECT dark{r.left, r.top, r.right, r.top + line};
        const RECT light{r.left, r.top + line, r.right, r.top + 2 * line};
        FillRect(item.hDC, &dark, GetSysColorBrush(COLOR_BTNSHADOW));
        FillRect(item.hDC, &light, GetSysColorBrush(COLOR_BTNHIGHLIGHT));
        return;
    }
    const bool enabled = IsWindowEnabled(item.hwndItem) != FALSE;
    FillRect(item.hDC, &r, GetSysColorBrush(COLOR_BTNFACE));
    DrawEdge(item.hDC, &r, EDGE_RAISED, BF_RECT);
    const int folder = Scale(kFolderSize);
    DrawOpenFolder(item.hDC, r.left + (r.right - r.left - folder) / 2, r.top + (r.bottom - r.top - folder) / 2,
                   dpi_, enabled);
}

void TKesBatForm::MeasureItem(MEASUREITEMSTRUCT& item) {
    // The list's items, and at first its closed field, which is fitted
    // apart.
    item.itemHeight = Scale(kItemHeight);
}
