// The preview: the run's search for the chosen type, folder and subfolder
// setting, then every file read through the plug-in's ReadCommentW, shown
// in a window of its own. Nothing is written: the plug-in is only ever
// asked to read, and the files are only ever opened to be read.
#include "kes_bat_preview.h"

#include <algorithm>
#include <deque>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <stdexcept>

#include "Kes_bat_data.h"
#include "Mbox_res.h"
#include "PathText.h"
#include "TextFile.h"
#include "WindowObject.h"
#include "kes_bat_form.h"
#include "kes_bat_ids.h"
#include "kes_bat_msg.h"

namespace {

// ---- The window, described as data ----------------------------------------

enum TFontKind { Proportional, FixedPitch };

// All sizes are pixels at 96 DPI, scaled by the window's DPI when laid out.
struct TPreviewControl {
    const wchar_t* ClassName;
    int Id;
    int Left, Top;
    // 0: up to kMargin from the client area's right or bottom edge, so that
    // the control grows with the window.
    int Width, Height;
    DWORD Style;
    DWORD ExStyle;
    TFontKind Font;
};

constexpr int kMargin = 8;

// The summary, the counter beside the bar, and the list below. The fonts
// are those of the main window's labels, counter and log.
const TPreviewControl kControls[] = {
    {L"STATIC", IDC_PREVIEW_SUMMARY, 8, 8, 0, 14, SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS, 0, Proportional},
    {L"STATIC", IDC_PREVIEW_COUNT, 8, 28, 100, 14, SS_LEFT | SS_NOPREFIX, 0, FixedPitch},
    {PROGRESS_CLASSW, IDC_PREVIEW_PROGRESS, 112, 28, 0, 14, 0, 0, Proportional},
    {WC_LISTVIEWW, IDC_PREVIEW_LIST, 8, 50, 0, 0,
     // Rows are drawn from the preview's own list: 20,000 files need no
     // second copy inside the control.
     LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS | WS_TABSTOP, WS_EX_CLIENTEDGE, FixedPitch},
};

// Path, comment, action; their headers are one text, split on tabs. The
// last column takes the rest of the list's width: the reasons are long.
const int kColumnWidths[] = {300, 200, 0};
constexpr int kLastColumn = static_cast<int>(std::size(kColumnWidths)) - 1;

// The client area when first shown, and the least it can be made.
constexpr int kClientWidth = 880, kClientHeight = 440;
constexpr int kMinClientWidth = 360, kMinClientHeight = 200;
constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW;


// A numbered text, in the form the wide controls take.
std::wstring ResText(int id) { return WidePath(LoadResString(id)); }

// ---- What the rows say -------------------------------------------------------

// A list row draws no line break: each becomes this mark, which every
// Japanese font has (it is in Shift_JIS).
constexpr wchar_t kLineBreakMark = L'\u00b6';
// A row shows the start of a comment: kept whole, long comments of 20,000
// files could take hundreds of megabytes.
constexpr size_t kShownLength = 260;

std::wstring OneLine(const std::wstring& comment) {
    std::wstring line;
    for (size_t i = 0; i < comment.size() && line.size() < kShownLength; ++i) {
        if (comment[i] != L'\r' && comment[i] != L'\n') {
            line += comment[i];
            continue;
        }
        line += kLineBreakMark;
        if (comment[i] == L'\r' && i + 1 < comment.size() && comment[i + 1] == L'\n') ++i;
    }
    return line;
}

struct TPreviewCounts {
    int Files = 0;
    int Comments = 0;
    int Refused = 0;
};

// The texts every row may say, loaded once for a preview.
struct TPreviewTexts {
    std::wstring Write = ResText(IDS_PREVIEW_WRITE);
    std::wstring Refuse = ResText(IDS_PREVIEW_REFUSE);
    std::wstring OnlineOnly = Refuse + L" (" + ResText(IDS_PREVIEW_ONLINE_ONLY) + L")";
    std::wstring CannotTell = ResText(IDS_PREVIEW_CANNOT_TELL);
};

// One entry of the run's list as the preview shows it. Entries the run
// reports without a call are not handed to the plug-in here either. The
// plug-in answers through its read and plan exports, whose codes are the
// interface's.
TPreviewRow PreviewRow(const TQueuedPath& entry, const std::wstring* planned, const TPreviewTexts& texts,
                       TPreviewCounts& counts, TRunEnvironment& environment) {
    TPreviewRow row{entry.Path.Text(), std::wstring(), std::wstring()};
    ++counts.Files;
    if (entry.Kind == TQueued::OnlineOnly) {
        row.Action = texts.OnlineOnly;
        ++counts.Refused;
        return row;
    }
    if (entry.Kind == TQueued::Write && planned == nullptr) {
        row.Action = texts.CannotTell;
        return row;
    }
    std::optional<std::wstring> comment;
    const int result = PreviewFile(entry, planned ? *planned : std::wstring(), comment);
    if (result != 0) {
        row.Action = texts.Refuse + L" (" + RefusalText(entry.Path, result, true, environment) + L")";
        ++counts.Refused;
        return row;
    }
    row.Action = texts.Write;
    if (comment) {
        row.Comment = OneLine(*comment);
        ++counts.Comments;
    }
    return row;
}

// Without the read export only the number of files is known.
std::wstring Summary(const TPreviewCounts& counts, bool reads) {
    const auto known = [reads](int n) { return reads ? std::to_wstring(n) : std::wstring(L"?"); };
    return FillIn(ResText(IDS_PREVIEW_SUMMARY),
                  {std::to_wstring(counts.Files), known(counts.Comments), known(counts.Refused)});
}

}  // namespace

// ---- The main window's preview command ----------------------------------------

void TKesBatForm::Menu_PreviewClick(HWND) {
    // One plug-in slot: a preview never starts inside a run or a preview.
    if (running_) return;
    if (!CheckTargetDir()) return;
    // A plug-in without the read export is not even loaded: it sees the
    // calls it has always seen, and no others.
    const bool reads = KesBat.CanRead(SelectedIndex());
    if (reads && !KesBat.PrepareRead(SelectedIndex())) {
        MsgBoxRes(IDS_PLUGIN_LOAD_FAILED, IDS_CAPTION_WARNING, MB_ICONEXCLAMATION);
        return;
    }
    // The window stays open with what it read; the plug-in goes.
    EndRunAfter([&] {
        if (!preview_) preview_ = std::make_unique<TKesBatPreview>();
        preview_->Open(Handle);
        SetRunning(true);
        PreviewFiles(reads);
    });
}

void TKesBatForm::PreviewFiles(bool reads) {
    TKesBatPreview& preview = *preview_;
    preview.SetStatus(ResText(IDS_LOG_SEARCHING));
    const bool searched = CollectRunFiles();
    // Taken whole: nothing of a preview is left for a run to write.
    std::deque<TQueuedPath> entries;
    entries.swap(*FileList);
    if (!searched) {
        RunEnvironment->Beep(MB_ICONQUESTION);
        preview.SetStatus(ResText(IDS_LOG_SEARCH_CANCELLED));
        return;
    }
    if (entries.empty()) {
        RunEnvironment->Beep(MB_ICONEXCLAMATION);
        preview.SetStatus(ResText(IDS_LOG_NO_FILES));
        return;
    }

    const int total = static_cast<int>(entries.size());
    preview.SetStatus(std::to_wstring(total) + ResText(IDS_PREVIEW_EXAMINING));
    preview.SetTotal(total);
    RunEnvironment->ProcessMessages();

    const TPreviewTexts texts;
    TPreviewCounts counts;
    // What a run would write now: a plug-in that plans refuses some files
    // for the comment alone.
    const std::wstring comment = ToCrLfText(Text(IDC_MEMO_COMMENT));
    // Paced as a run paces its counter: drawing costs more than a small file.
    // The list follows more slowly: told its new number of rows, a list view
    // may repaint every row in view (Wine's does, some 10 ms), which at the
    // counter's pace would cost a fifth of the reading.
    DWORD shownAt = RunEnvironment->TickCount();
    DWORD listShownAt = shownAt;
    const auto stop = [&] {
        preview.ShowProgress();
        RunEnvironment->Beep(MB_ICONQUESTION);
        preview.SetStatus(ResText(IDS_LOG_STOPPED) + L" " + Summary(counts, reads));
    };
    for (const TQueuedPath& entry : entries) {
        // Closing either window stops the reading; the main window then
        // closes once the plug-in is released.
        if (closeRequested_ || !preview.IsOpen()) return stop();
        preview.AddRow(PreviewRow(entry, reads ? &comment : nullptr, texts, counts, *RunEnvironment));
        if (RunEnvironment->EscapePressed()) return stop();
        const DWORD now = RunEnvironment->TickCount();
        if (now - shownAt >= kProgressIntervalMs) {
            shownAt = now;
            const bool list = now - listShownAt >= kListIntervalMs;
            if (list) listShownAt = now;
            preview.ShowProgress(list);
        }
        RunEnvironment->ProcessMessages();
    }
    preview.ShowProgress();
    preview.SetStatus(Summary(counts, reads));
    RunEnvironment->Beep(MB_OK);
}

// ---- The window ---------------------------------------------------------------

TKesBatPreview::~TKesBatPreview() {
    if (Handle != nullptr) DestroyWindow(Handle);
}

void TKesBatPreview::Open(HWND owner) {
    // Fonts of its own: the main window makes its fonts anew when it moves
    // to a monitor of another scale.
    fonts_ = std::make_unique<TWindowFonts>(WindowDpi(owner));
    const HFONT font = static_cast<HFONT>(fonts_->Proportional.Get());
    const HFONT fixedFont = static_cast<HFONT>(fonts_->FixedPitch.Get());
    if (Handle == nullptr) Create(owner);
    for (const TPreviewControl& c : kControls)
        SendMessageW(Control(c.Id), WM_SETFONT,
                     reinterpret_cast<WPARAM>(c.Font == FixedPitch ? fixedFont : font), FALSE);
    rows_.clear();
    SetTotal(0);
    ShowProgress();
    SetStatus(L"");
    ShowWindow(Handle, IsIconic(Handle) ? SW_RESTORE : SW_SHOW);
    SetActiveWindow(Handle);
    SetFocus(Control(IDC_PREVIEW_LIST));
    // The search that follows dispatches nothing: the window is drawn now.
    RedrawWindow(Handle, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void TKesBatPreview::Create(HWND owner) {
    const INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_KES_BAT));
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512) /* IDC_ARROW */);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    const std::wstring className = WidePath(KES_PREVIEW_CLASS);
    wc.lpszClassName = className.c_str();
    RegisterClassExW(&wc);  // fails harmlessly when a window before registered it

    // Sized for the owner's DPI, over the owner's middle, and all of it on
    // the owner's screen, however large the scale.
    const int dpi = WindowDpi(owner);
    RECT r{0, 0, MulDiv(kClientWidth, dpi, 96), MulDiv(kClientHeight, dpi, 96)};
    AdjustWindowRectEx(&r, kStyle, FALSE, 0);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& work = monitor.rcWork;
    const int width = std::min<int>(r.right - r.left, work.right - work.left);
    const int height = std::min<int>(r.bottom - r.top, work.bottom - work.top);
    RECT around;
    GetWindowRect(owner, &around);
    const int x = std::clamp<int>((around.left + around.right - width) / 2, work.left, work.right - width);
    const int y = std::clamp<int>((around.top + around.bottom - height) / 2, work.top, work.bottom - height);
    CreateWindowExW(0, className.c_str(), ResText(IDS_PREVIEW_TITLE).c_str(), kStyle, x, y, width, height, owner,
                    nullptr, instance, this);
    if (Handle == nullptr) throw std::runtime_error("the preview window could not be created");
}

bool TKesBatPreview::FormCreate() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    for (const TPreviewControl& c : kControls) {
        if (CreateWindowExW(c.ExStyle, c.ClassName, L"", WS_CHILD | WS_VISIBLE | c.Style, 0, 0, 0, 0, Handle,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.Id)), instance, nullptr) == nullptr)
            return false;
    }
    HWND list = Control(IDC_PREVIEW_LIST);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    const std::wstring headers = ResText(IDS_PREVIEW_COLUMNS);
    size_t from = 0;
    for (int i = 0; i <= kLastColumn; ++i) {
        const size_t tab = headers.find(L'\t', from);
        std::wstring header = headers.substr(from, tab - from);
        from = tab == std::wstring::npos ? headers.size() : tab + 1;
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.pszText = header.data();
        column.cx = Scale(kColumnWidths[i]);
        SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
    FormResize();
    return true;
}

int TKesBatPreview::Scale(int pixels) const { return ScaleToDpi(pixels, WindowDpi(Handle)); }

void TKesBatPreview::FormResize() {
    RECT client;
    GetClientRect(Handle, &client);
    for (const TPreviewControl& c : kControls) {
        const int left = Scale(c.Left), top = Scale(c.Top);
        const int width = c.Width != 0 ? Scale(c.Width) : client.right - left - Scale(kMargin);
        const int height = c.Height != 0 ? Scale(c.Height) : client.bottom - top - Scale(kMargin);
        SetWindowPos(Control(c.Id), nullptr, left, top, width > 0 ? width : 0, height > 0 ? height : 0,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    SendMessageW(Control(IDC_PREVIEW_LIST), LVM_SETCOLUMNWIDTH, kLastColumn, LVSCW_AUTOSIZE_USEHEADER);
}

void TKesBatPreview::FormGetMinMaxInfo(MINMAXINFO& info) {
    RECT r{0, 0, Scale(kMinClientWidth), Scale(kMinClientHeight)};
    AdjustWindowRectEx(&r, kStyle, FALSE, 0);
    info.ptMinTrackSize = {r.right - r.left, r.bottom - r.top};
}

// Closing only hides: the next preview opens where the user left it. A
// close during reading stops the reading.
void TKesBatPreview::FormClose() { ShowWindow(Handle, SW_HIDE); }

void TKesBatPreview::ListView_GetDispInfo(NMLVDISPINFOW& info) {
    LVITEMW& item = info.item;
    if (!(item.mask & LVIF_TEXT) || item.pszText == nullptr || item.cchTextMax <= 0) return;
    if (item.iItem < 0 || static_cast<size_t>(item.iItem) >= rows_.size()) return;
    const TPreviewRow& row = rows_[static_cast<size_t>(item.iItem)];
    const std::wstring& text = item.iSubItem == 0 ? row.Path : item.iSubItem == 1 ? row.Comment : row.Action;
    lstrcpynW(item.pszText, text.c_str(), item.cchTextMax);
}

void TKesBatPreview::SetStatus(const std::wstring& text) {
    HWND summary = Control(IDC_PREVIEW_SUMMARY);
    SetWindowTextW(summary, text.c_str());
    RedrawWindow(summary, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void TKesBatPreview::SetTotal(int total) {
    total_ = total;
    SendMessageW(Control(IDC_PREVIEW_PROGRESS), PBM_SETRANGE32, 0, total);
}

void TKesBatPreview::ShowProgress(bool list) {
    const int done = static_cast<int>(rows_.size());
    // New rows at the end: the rows in view stay where they are.
    if (list) SendMessageW(Control(IDC_PREVIEW_LIST), LVM_SETITEMCOUNT, done, LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
    SendMessageW(Control(IDC_PREVIEW_PROGRESS), PBM_SETPOS, done, 0);
    SetCount(done);
}

void TKesBatPreview::SetCount(int done) {
    const std::wstring text = std::to_wstring(done) + L" / " + std::to_wstring(total_);
    SetWindowTextW(Control(IDC_PREVIEW_COUNT), text.c_str());
}

// ---- Messages -------------------------------------------------------------------

LRESULT TKesBatPreview::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CREATE:
        return FormCreate() ? 0 : -1;
    case WM_SIZE:
        FormResize();
        return 0;
    case WM_GETMINMAXINFO:
        FormGetMinMaxInfo(*reinterpret_cast<MINMAXINFO*>(lParam));
        return 0;
    case WM_NOTIFY: {
        const NMHDR& header = *reinterpret_cast<const NMHDR*>(lParam);
        if (header.idFrom == IDC_PREVIEW_LIST && header.code == LVN_GETDISPINFOW)
            ListView_GetDispInfo(*reinterpret_cast<NMLVDISPINFOW*>(lParam));
        return 0;
    }
    case WM_CLOSE:
        FormClose();
        return 0;
    case WM_NCDESTROY: {
        HWND window = Handle;
        Handle = nullptr;
        return DefWindowProcW(window, msg, wParam, lParam);
    }
    }
    return DefWindowProcW(Handle, msg, wParam, lParam);
}

LRESULT CALLBACK TKesBatPreview::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    TKesBatPreview* preview = WindowObject<TKesBatPreview>(hwnd, msg, lParam);
    if (preview == nullptr) return DefWindowProcW(hwnd, msg, wParam, lParam);
    return preview->HandleMessage(msg, wParam, lParam);
}
