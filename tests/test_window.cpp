// The real kes_bat.exe, started in a fresh folder with chosen plug-ins and
// driven through its window as a user would.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "Handles.h"
#include "KesDriver.h"
#include "TestSupport.h"
#include "Mbox_res.h"
#include "kes_bat_ids.h"
#include "kes_bundled.h"
#include "kes_bat_msg.h"
#include "kes_bat_texts.h"

using namespace kes_test;
using Plugins = std::vector<std::pair<std::string, std::string>>;

namespace {

const std::string kWarning = LoadResString(IDS_CAPTION_WARNING);

std::string Decimal(HWND hwnd) { return std::to_string(reinterpret_cast<UINT_PTR>(hwnd)); }

struct TLayout {
    int Id;
    LONG Left, Top, Width, Height;
};

// The window at 96 DPI. Label_Count and ProgressBar_Count are placed inside
// GroupBox1 (121, 248).
const TLayout kLayout[] = {
    {IDC_BEVEL1, 0, 0, 442, 6},         {IDC_LABEL2, 8, 8, 225, 12},
    {IDC_MEMO_COMMENT, 8, 24, 426, 89}, {IDC_LABEL3, 8, 123, 254, 12},
    {IDC_COMBOBOX_EXT, 8, 139, 266, 20}, {IDC_BUTTON_SETTING, 281, 136, 75, 25},
    {IDC_BUTTON_ABOUT, 361, 136, 75, 25}, {IDC_LABEL1, 8, 171, 296, 12},
    {IDC_EDIT_DIR, 8, 190, 394, 20},    {IDC_SPEEDBUTTON1, 411, 189, 23, 22},
    {IDC_CHECKBOX_SUBDIR, 8, 216, 249, 17}, {IDC_LABEL4, 8, 248, 52, 12},
    {IDC_BUTTON_START, 8, 266, 97, 25}, {IDC_GROUPBOX1, 121, 248, 313, 49},
    {IDC_LABEL_COUNT, 137, 272, 30, 12}, {IDC_PROGRESSBAR_COUNT, 221, 270, 200, 16},
    {IDC_LISTBOX_LOG, 8, 304, 426, 76}, {IDC_STATUSBAR_INFO, 0, 383, 442, 21},
};

// The window at `dpi`: the layout at 96 DPI with each edge scaled on its
// own, to the pixel, so that controls that meet at 96 DPI still meet; its
// items and its fonts scaled with it.
void ExpectScaledLayout(const TKesDriver& tool, int dpi) {
    const auto scale = [dpi](LONG pixels) { return MulDiv(pixels, dpi, 96); };
    const auto edges = [](const RECT& r) { return std::vector<LONG>{r.left, r.top, r.right, r.bottom}; };
    RECT client;
    GetClientRect(tool.Window(), &client);
    EXPECT_EQ(client.right, scale(442));
    EXPECT_EQ(client.bottom, scale(404));
    // Label_Count is as wide as its text in the fixed-pitch face: its width
    // checks that face's height. The log's height is whole lines (below).
    for (const TLayout& c : kLayout) {
        const RECT r = tool.Bounds(c.Id);
        const LONG bottom = c.Id == IDC_LISTBOX_LOG ? r.bottom : scale(c.Top + c.Height);
        EXPECT_EQ(edges(r), edges({scale(c.Left), scale(c.Top), scale(c.Left + c.Width), bottom})) << c.Id;
    }
    // Items of the scaled height. The log shows six whole lines, as at 96
    // DPI; its frame keeps its width in pixels, so the lines fall a little
    // short of the scaled height.
    HWND log = tool.Control(IDC_LISTBOX_LOG);
    EXPECT_EQ(SendMessageA(log, LB_GETITEMHEIGHT, 0, 0), scale(12));
    RECT lines;
    GetClientRect(log, &lines);
    EXPECT_EQ(lines.bottom, 6 * scale(12));
    const RECT logBounds = tool.Bounds(IDC_LISTBOX_LOG);
    EXPECT_LE(logBounds.bottom, scale(304 + 76));
    EXPECT_EQ(SendMessageA(tool.Control(IDC_COMBOBOX_EXT), CB_GETITEMHEIGHT, 0, 0), scale(12));
    // The step labels show their whole text, on one line, in the
    // proportional face at the scaled height: neither cut off nor wrapped.
    for (int id : {IDC_LABEL2, IDC_LABEL3, IDC_LABEL1, IDC_LABEL4}) {
        const RECT shown = tool.Ink(id);
        const RECT whole = TextInk(tool.Text(id), "ＭＳ Ｐゴシック", scale(12));
        EXPECT_NEAR(shown.right - shown.left, whole.right - whole.left, 1) << tool.Text(id);
        EXPECT_NEAR(shown.bottom - shown.top, whole.bottom - whole.top, 1) << tool.Text(id);
    }
}

// The display scale of this Wine prefix, in DPI.
int PrefixDpi() {
    DWORD dpi = 96, size = sizeof dpi;
    RegGetValueA(HKEY_CURRENT_USER, "Control Panel\\Desktop", "LogPixels", RRF_RT_REG_DWORD, nullptr, &dpi, &size);
    return static_cast<int>(dpi);
}

}  // namespace

TEST(Window, LayoutFrameAndFocusAreAsDesigned) {
    TempDir dir;
    TKesDriver tool(dir.Path(), {{"probe", "probe.cpi"}});
    ASSERT_TRUE(tool.Start());

    RECT client;
    GetClientRect(tool.Window(), &client);
    EXPECT_EQ(client.right, 442);
    EXPECT_EQ(client.bottom, 404);
    const LONG style = GetWindowLongA(tool.Window(), GWL_STYLE);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME);  // the user cannot resize it
    char caption[128];
    GetWindowTextA(tool.Window(), caption, sizeof caption);
    EXPECT_STREQ(caption, KES_APP_TITLE);
    RECT frame;
    GetWindowRect(tool.Window(), &frame);
    EXPECT_NEAR(frame.left + frame.right, GetSystemMetrics(SM_CXSCREEN), 1);  // centred
    EXPECT_NEAR(frame.top + frame.bottom, GetSystemMetrics(SM_CYSCREEN), 1);

    for (const TLayout& c : kLayout) {
        const RECT r = tool.Bounds(c.Id);
        EXPECT_EQ(r.left, c.Left) << c.Id;
        EXPECT_EQ(r.top, c.Top) << c.Id;
        EXPECT_EQ(r.right - r.left, c.Width) << c.Id;
        EXPECT_EQ(r.bottom - r.top, c.Height) << c.Id;
    }
    // One usable plug-in: one item, selected, its buttons set by its flags (17).
    EXPECT_EQ(tool.ComboItems(), std::vector<std::string>{"probe (*.txt)"});
    EXPECT_EQ(tool.ComboSelection(), 0);
    EXPECT_TRUE(tool.IsEnabled(IDC_BUTTON_ABOUT));
    EXPECT_TRUE(tool.IsEnabled(IDC_BUTTON_SETTING));
    EXPECT_EQ(tool.Text(IDC_LABEL_COUNT), "0 / 0");
    EXPECT_EQ(tool.Text(IDC_BUTTON_START), "実行");
    EXPECT_FALSE(tool.IsChecked(IDC_CHECKBOX_SUBDIR));
    EXPECT_EQ(tool.Text(IDC_STATUSBAR_INFO), "");

    // The focus starts in the comment field, and Tab leaves it rather than
    // going into the text; then on through the controls in order.
    ASSERT_TRUE(WaitFor([&] { return tool.FocusId() == IDC_MEMO_COMMENT; }));
    const int order[] = {IDC_COMBOBOX_EXT, IDC_BUTTON_SETTING, IDC_BUTTON_ABOUT, IDC_EDIT_DIR,
                         IDC_CHECKBOX_SUBDIR, IDC_BUTTON_START, IDC_LISTBOX_LOG, IDC_MEMO_COMMENT};
    for (int next : order) {
        tool.PostKey(VK_TAB);
        EXPECT_TRUE(WaitFor([&] { return tool.FocusId() == next; })) << "expected " << next;
    }
    EXPECT_EQ(tool.Text(IDC_MEMO_COMMENT), "");

    tool.PostMenu(IDM_EXIT);
    EXPECT_EQ(tool.WaitExit(), 0u);
}

TEST(Window, FileTypesAndPluginButtonsFollowTheRegistry) {
    TempDir dir;
    // Each variant describes itself by its name; the flags are 17, 1, 16, 2,
    // and 0 from the second query.
    TKesDriver tool(dir.Path(), {{"probe", "probe.cpi"},
                                 {"caps1", "caps1.cpi"},
                                 {"caps16", "caps16.cpi"},
                                 {"caps2", "caps2.cpi"},
                                 {"caps_second0", "caps_second0.cpi"},
                                 {"upper_patterns", "upper_patterns.cpi"},
                                 {"empty_desc", "empty_desc.cpi"},
                                 {"tag_lower", "tag_lower.cpi"}});
    ASSERT_TRUE(tool.Start());
    const std::vector<std::string> items = tool.ComboItems();
    ASSERT_EQ(items.size(), 7u);  // the lower-case tag is refused
    EXPECT_EQ(tool.ComboSelection(), 0);

    const std::map<std::string, std::pair<bool, bool>> buttons = {  // (About, Settings)
        {"probe (*.txt)", {true, true}},
        {"caps1 (*.txt)", {true, false}},
        {"caps16 (*.txt)", {false, true}},
        {"caps2 (*.txt)", {false, false}},
        {"caps_second0 (*.txt)", {false, false}},
        {"upper_patterns (*.txt;*.dat)", {true, true}},
        {" (*.txt)", {true, true}},  // an empty description: the blank comes first
    };
    std::vector<std::string> seen;
    // Visit the items in an order that changes the buttons at every step,
    // and come back to the first one, which was set at start-up.
    for (int i : {0, 1, 2, 3, 4, 5, 6, 0}) {
        if (i != 0 || !seen.empty()) tool.ChooseCombo(i);
        const auto expected = buttons.find(items[i]);
        ASSERT_NE(expected, buttons.end()) << items[i];
        EXPECT_EQ(tool.IsEnabled(IDC_BUTTON_ABOUT), expected->second.first) << items[i];
        EXPECT_EQ(tool.IsEnabled(IDC_BUTTON_SETTING), expected->second.second) << items[i];
        seen.push_back(items[i]);
    }
    tool.PostClose();
    EXPECT_EQ(tool.WaitExit(), 0u);
}

TEST(Window, WithoutAUsablePluginTheToolSaysSoAndEnds) {
    for (const Plugins& plugins : {Plugins{}, Plugins{{"tag_lower", "a.cpi"}, {"caps0", "b.cpi"}}}) {
        TempDir dir;
        dir.MakeFile("not_a_library.cpi", "text");
        TKesDriver tool(dir.Path(), plugins);
        ASSERT_TRUE(tool.Start());
        const TBox box = tool.ExpectBox();
        EXPECT_EQ(box.Text, LoadResString(IDS_NO_PLUGIN));
        EXPECT_EQ(box.Caption, kWarning);
        EXPECT_EQ(box.Icon, static_cast<UINT>(MB_ICONEXCLAMATION));
        // Once it is answered the program ends, without another box: it
        // cannot end while one is open, so one would be seen here.
        bool another = false;
        EXPECT_TRUE(WaitFor([&] {
            another = another || tool.BoxOpen();
            return another || tool.WaitExit(0) != STILL_ACTIVE;
        }, 15000));
        EXPECT_FALSE(another);
        EXPECT_EQ(tool.WaitExit(), 0u);
    }
}

TEST(Window, PluginDialogsReachTheSelectedPlugin) {
    TempDir dir;
    ProbeLog log;
    TKesDriver tool(dir.Path(), {{"probe", "probe.cpi"}, {"dialog_fail", "dialog_fail.cpi"}});
    ASSERT_TRUE(tool.Start());
    const std::vector<std::string> items = tool.ComboItems();
    ASSERT_EQ(items.size(), 2u);
    const int probe = items[0] == "probe (*.txt)" ? 0 : 1;
    tool.ChooseCombo(probe);
    log.Clear();

    const std::string window = Decimal(tool.Window());
    // Posted: a box in answer would hold a sent click until it closed. Once
    // the plug-in has shown its dialog, no box follows.
    for (const auto& [button, mode] : {std::pair{IDC_BUTTON_ABOUT, "0"}, std::pair{IDC_BUTTON_SETTING, "1"}}) {
        tool.PostClick(button);
        const std::string shown = "probe.cpi ConfigurationDlg " + window + " " + mode;
        ASSERT_TRUE(WaitFor([&] {
            const std::vector<std::string> lines = log.Lines();
            return std::find(lines.begin(), lines.end(), shown) != lines.end();
        })) << shown;
        EXPECT_TRUE(tool.TakesInput()) << shown;
    }
    std::vector<std::string> lines = log.Lines();
    // Whatever start-up left loaded goes first.
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].substr(lines[0].size() - 7), " unload");
    lines.erase(lines.begin());
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "probe.cpi load", "probe.cpi ConfigurationDlg 0 2",
                         "probe.cpi ConfigurationDlg " + window + " 0", "probe.cpi unload",
                         "probe.cpi load", "probe.cpi ConfigurationDlg 0 2",
                         "probe.cpi ConfigurationDlg " + window + " 1"}));

    // A dialog that reports failure is a plug-in that did not load.
    tool.ChooseCombo(1 - probe);
    for (int button : {IDC_BUTTON_ABOUT, IDC_BUTTON_SETTING}) {
        tool.PostClick(button);
        const TBox box = tool.ExpectBox();
        EXPECT_EQ(box.Text, LoadResString(IDS_PLUGIN_LOAD_FAILED));
        EXPECT_EQ(box.Caption, kWarning);
        EXPECT_EQ(box.Icon, static_cast<UINT>(MB_ICONEXCLAMATION));
    }
    tool.PostMenu(IDM_EXIT);
    EXPECT_EQ(tool.WaitExit(), 0u);
}

TEST(Window, AboutBoxShowsItsEightLines) {
    TempDir dir;
    TKesDriver tool(dir.Path(), {{"probe", "probe.cpi"}});
    ASSERT_TRUE(tool.Start());
    tool.PostMenu(IDM_ABOUT);
    const TBox box = tool.ExpectBox();
    EXPECT_EQ(box.Text,
              "Kestrane\n超簡易バッチ処理ツール\n\nVersion 0.11 (2000.10.14)\n\n"
              "Author: Kestrane Project\nURL   : http://www.kestrane.example/\n"
              "e-mail: support@kestrane.example");
    EXPECT_EQ(box.Caption, LoadResString(IDS_CAPTION_INFO));
    EXPECT_EQ(box.Icon, static_cast<UINT>(MB_ICONINFORMATION));
    EXPECT_EQ(tool.Text(IDC_STATUSBAR_INFO), "");
    // The system menu's close command ends the program as the menu does.
    PostMessageA(tool.Window(), WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(tool.WaitExit(), 0u);
}

TEST(Window, CommentTextLoadsFromFiles) {
    TempDir dir;
    TKesDriver tool(dir.Path(), {{"probe", "probe.cpi"}});
    const std::string unix = dir.MakeFile("unix.txt", "line 1\nline 2\n\nコメント\n");
    const std::string mac = dir.MakeFile("mixed.txt", std::string("a\rb\r\nc\0hidden", 14));
    ASSERT_TRUE(tool.Start());

    tool.PostMenu(IDM_LOAD_TEXT);
    ASSERT_TRUE(tool.AnswerFileDialog(unix));
    EXPECT_TRUE(WaitFor([&] { return !tool.Text(IDC_MEMO_COMMENT).empty(); }));
    EXPECT_EQ(tool.Text(IDC_MEMO_COMMENT), "line 1\r\nline 2\r\n\r\nコメント\r\n");

    // A second file replaces the first; the text ends at a zero byte.
    tool.PostMenu(IDM_LOAD_TEXT);
    ASSERT_TRUE(tool.AnswerFileDialog(mac));
    EXPECT_TRUE(WaitFor([&] { return tool.Text(IDC_MEMO_COMMENT) == "a\r\nb\r\nc"; }))
        << tool.Text(IDC_MEMO_COMMENT);

    // A name that does not exist: the dialog takes it, the load fails, the
    // error is shown, and the field keeps its text.
    tool.PostMenu(IDM_LOAD_TEXT);
    ASSERT_TRUE(tool.AnswerFileDialog(dir / "missing.txt"));
    const TBox box = tool.ExpectBox();
    EXPECT_EQ(box.Caption, KES_APP_TITLE);
    EXPECT_EQ(box.Icon, static_cast<UINT>(MB_ICONERROR));
    EXPECT_NE(box.Text.find("missing.txt"), std::string::npos) << box.Text;
    EXPECT_EQ(tool.Text(IDC_MEMO_COMMENT), "a\r\nb\r\nc");
    EXPECT_EQ(tool.Text(IDC_STATUSBAR_INFO), "");

    // The program carries on after the error.
    tool.PostMenu(IDM_EXIT);
    EXPECT_EQ(tool.WaitExit(), 0u);
}

TEST(Window, TheShippedFolderListsEveryBundledType) {
    TempDir dir;
    TKesDriver tool(dir.Path(), {});
    // What each plug-in answers, against what the build read from its source.
    std::vector<std::string> expected;
    for (const TBundledPlugin& p : kBundledPlugins) {
        ASSERT_TRUE(CopyFileA((ToolDir() + p.FileName).c_str(), (dir / p.FileName).c_str(), FALSE)) << p.FileName;
        expected.push_back(std::string(p.Description) + " (" + p.Patterns + ")");
    }
    ASSERT_TRUE(tool.Start());
    std::vector<std::string> items = tool.ComboItems();
    std::sort(items.begin(), items.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(items, expected);
    EXPECT_TRUE(tool.IsEnabled(IDC_BUTTON_ABOUT));
    EXPECT_TRUE(tool.IsEnabled(IDC_BUTTON_SETTING));
    tool.PostMenu(IDM_EXIT);
    EXPECT_EQ(tool.WaitExit(), 0u);
}

TEST(Window, TheFolderPickerFillsTheDirectoryWithOneTrailingDelimiter) {
    TempDir dir;
    TKesDriver tool(dir.Path(), {{"probe", "probe.cpi"}});
    ASSERT_TRUE(tool.Start());
    tool.SetText(IDC_EDIT_DIR, "typed by hand");
    const auto clickPicker = [&] {
        PostMessageA(tool.Window(), WM_COMMAND, MAKEWPARAM(IDC_SPEEDBUTTON1, STN_CLICKED),
                     reinterpret_cast<LPARAM>(tool.Control(IDC_SPEEDBUTTON1)));
        return WaitFor([&] { return tool.BoxOpen(); });
    };
    // Cancelled: the typed text stays.
    ASSERT_TRUE(clickPicker());
    const std::vector<std::string> texts = tool.DialogTexts();
    EXPECT_NE(std::find(texts.begin(), texts.end(), LoadResString(IDS_CHOOSE_DIR)), texts.end());
    tool.AnswerDialog(IDCANCEL);
    EXPECT_EQ(tool.Text(IDC_EDIT_DIR), "typed by hand");

    // Accepted as it opens: the folder it starts on (the desktop, a real
    // folder), with one '\' appended.
    ASSERT_TRUE(clickPicker());
    tool.AnswerDialog(IDOK);
    const std::string chosen = tool.Text(IDC_EDIT_DIR);
    ASSERT_GE(chosen.size(), 4u) << chosen;
    EXPECT_EQ(chosen.back(), '\\');
    EXPECT_NE(chosen[chosen.size() - 2], '\\');
    const DWORD attributes = GetFileAttributesA(chosen.c_str());
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) << chosen;
    tool.PostMenu(IDM_EXIT);
    EXPECT_EQ(tool.WaitExit(), 0u);
}

// Notepad saves UTF-8; other editors Shift_JIS or UTF-16. A file in none of
// them is refused with a message, and the field keeps its text.
TEST(Window, CommentFilesInEveryCommonEncodingLoadAsTheyRead) {
    TempDir dir;
    TKesDriver tool(dir.Path(), {{"probe", "probe.cpi"}});
    const std::wstring text = L"caf\u00e9 \u2661\r\n\u8868";  // "café ♡", "表"
    const std::string utf8 = "caf\xc3\xa9 \xe2\x99\xa1\n\xe8\xa1\xa8";
    const std::vector<std::string> files = {
        dir.MakeFile("utf8.txt", utf8), dir.MakeFile("bom.txt", "\xEF\xBB\xBF" + utf8),
        dir.MakeFile("le.txt", std::string("\xFF\xFE" "c\0a\0f\0\xe9\0 \0\x61\x26\n\0\x68\x88", 18)),
        dir.MakeFile("be.txt", std::string("\xFE\xFF" "\0c\0a\0f\0\xe9\0 \x26\x61\0\r\0\n\x88\x68", 20))};
    const std::string sjis = dir.MakeFile("sjis.txt", "\x95\x5c\r\n");
    const std::string broken = dir.MakeFile("broken.txt", "\x82\x20\xc3");
    // The file's own name may hold any character too.
    const std::wstring named = AnsiText(dir.Path()) + L"\uc0ac\ub791\u2661.txt";
    {
        CFileHandle f(CreateFileW(named.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        DWORD written;
        ASSERT_TRUE(WriteFile(f.Get(), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr));
    }
    ASSERT_TRUE(tool.Start());
    const auto load = [&](const std::wstring& file) {
        tool.SetText(IDC_MEMO_COMMENT, std::wstring(L"before"));
        tool.PostMenu(IDM_LOAD_TEXT);
        EXPECT_TRUE(tool.AnswerFileDialog(file));
        WaitFor([&] { return tool.WideText(IDC_MEMO_COMMENT) != L"before" || tool.BoxOpen(); });
        return tool.WideText(IDC_MEMO_COMMENT);
    };
    for (const std::string& file : files) EXPECT_EQ(load(AnsiText(file)), text) << file;
    EXPECT_EQ(load(named), text);
    EXPECT_EQ(load(AnsiText(sjis)), L"\u8868\r\n");

    tool.PostMenu(IDM_LOAD_TEXT);
    ASSERT_TRUE(tool.AnswerFileDialog(broken));
    const TBox box = tool.ExpectBox();
    EXPECT_EQ(box.Text, LoadResString(IDS_TEXT_FILE_ENCODING));
    EXPECT_EQ(box.Icon, static_cast<UINT>(MB_ICONEXCLAMATION));
    EXPECT_EQ(tool.WideText(IDC_MEMO_COMMENT), L"\u8868\r\n");
    tool.PostMenu(IDM_EXIT);
    EXPECT_EQ(tool.WaitExit(), 0u);
}

TEST(Window, OnAMonitorOfAnotherScaleTheWindowIsLaidOutAnew) {
    TempDir dir;
    TKesDriver tool(dir.Path(), {{"probe", "probe.cpi"}});
    ASSERT_TRUE(tool.Start());
    RECT before;
    GetWindowRect(tool.Window(), &before);
    // What the system suggests on a monitor at 150 %: the window where it
    // was, its client area scaled; the frame here is the one drawn at 96 DPI.
    RECT suggested = before;
    suggested.right += MulDiv(442, 144, 96) - 442;
    suggested.bottom += MulDiv(404, 144, 96) - 404;
    tool.SendDpiChanged(144, suggested);
    RECT after;
    GetWindowRect(tool.Window(), &after);
    EXPECT_TRUE(EqualRect(&after, &suggested));
    ExpectScaledLayout(tool, 144);

    // And back: every pixel where it was.
    tool.SendDpiChanged(96, before);
    GetWindowRect(tool.Window(), &after);
    EXPECT_TRUE(EqualRect(&after, &before));
    ExpectScaledLayout(tool, 96);
    tool.PostMenu(IDM_EXIT);
    EXPECT_EQ(tool.WaitExit(), 0u);
}

TEST(Window, TheFolderButtonAndTheTypeListAreNamedForScreenReaders) {
    TempDir dir;
    TKesDriver tool(dir.Path(), {{"probe", "probe.cpi"}});
    ASSERT_TRUE(tool.Start());
    // The button shows only its picture; its name, and its tooltip, is the
    // folder picker's instruction.
    const std::string instruction = LoadResString(IDS_CHOOSE_DIR);
    EXPECT_EQ(tool.AccessibleName(IDC_SPEEDBUTTON1), instruction);
    EXPECT_EQ(tool.HoverTip(IDC_SPEEDBUTTON1), instruction);
    // The list's own text is its chosen item. Screen readers name it by the
    // label just before it among the window's controls, when that is a
    // visible static: the label of step 2.
    HWND label = GetWindow(tool.Control(IDC_COMBOBOX_EXT), GW_HWNDPREV);
    EXPECT_EQ(label, tool.Control(IDC_LABEL3));
    EXPECT_TRUE(IsWindowVisible(label));
    EXPECT_TRUE(SendMessageA(label, WM_GETDLGCODE, 0, 0) & DLGC_STATIC);
    EXPECT_EQ(tool.AccessibleName(IDC_LABEL3), "２．コメントを書き込みたいファイルの拡張子を選択");
    tool.PostMenu(IDM_EXIT);
    EXPECT_EQ(tool.WaitExit(), 0u);
}

// Run by driver/at_scale.sh, in a Wine prefix of its own whose display
// scale is not 100 %.
TEST(WindowAtScale, EveryLengthAndFontFollowsTheDisplayScale) {
    const int dpi = PrefixDpi();
    ASSERT_NE(dpi, 96) << "meant for a prefix with another display scale";
    TempDir dir;
    TKesDriver tool(dir.Path(), {{"probe", "probe.cpi"}});
    ASSERT_TRUE(tool.Start());
    ExpectScaledLayout(tool, dpi);
    RECT frame;
    GetWindowRect(tool.Window(), &frame);
    EXPECT_NEAR(frame.left + frame.right, GetSystemMetrics(SM_CXSCREEN), 1);  // centred
    EXPECT_NEAR(frame.top + frame.bottom, GetSystemMetrics(SM_CYSCREEN), 1);
    tool.PostMenu(IDM_EXIT);
    EXPECT_EQ(tool.WaitExit(), 0u);
}
