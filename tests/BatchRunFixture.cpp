#include "BatchRunFixture.h"

#include "Handles.h"
#include "Mbox_res.h"
#include "WholeFile.h"
#include "kes_bat_msg.h"

using namespace kes_test;

std::unique_ptr<TKesBatForm> BatchRun::form_;

std::wstring TestJournalFolder() {
    static const TempDir folder;
    return AnsiText(folder.Path()) + L"Kestrane";
}

const std::string kCountLine = LoadResString(IDS_LOG_FILE_COUNT);
const std::string kSearching = LoadResString(IDS_LOG_SEARCHING);

std::wstring MakeWideFile(const std::wstring& path, const std::string& bytes) {
    for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1))
        CreateDirectoryW(LongForm(path.substr(0, at)).c_str(), nullptr);
    CFileHandle file(CreateFileW(LongForm(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    EXPECT_TRUE(file.IsOpen() && WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                                           nullptr));
    return path;
}

std::vector<std::wstring> WideLog() {
    std::vector<std::wstring> lines;
    HWND log = KesBatForm->Control(IDC_LISTBOX_LOG);
    const int n = static_cast<int>(SendMessageW(log, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
        std::wstring line(static_cast<size_t>(SendMessageW(log, LB_GETTEXTLEN, i, 0)), L'\0');
        SendMessageW(log, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line.data()));
        lines.push_back(line);
    }
    return lines;
}

std::wstring WideText(int id) {
    wchar_t text[1024] = L"";
    GetWindowTextW(KesBatForm->Control(id), text, 1024);
    return text;
}

std::wstring WideRes(int id) { return AnsiText(LoadResString(id)); }


bool MenuGrayed(int id) {
    const UINT state = GetMenuState(GetMenu(KesBatForm->Handle), id, MF_BYCOMMAND);
    EXPECT_NE(state, static_cast<UINT>(-1)) << "no menu item " << id;
    return (state & MF_GRAYED) != 0;
}

std::thread AnswerBox(int button, std::wstring* text) {
    return std::thread([button, text] {
        HWND box = nullptr;
        for (int i = 0; i < 500 && box == nullptr; ++i, Sleep(20))
            box = FindTopLevelWindow(GetCurrentProcessId(), "#32770", KesBatForm->Handle);
        if (box == nullptr) return;
        if (text != nullptr) {
            wchar_t shown[2048] = L"";
            GetDlgItemTextW(box, 0xFFFF, shown, 2048);  // a message box's text
            *text = shown;
        }
        PostMessageW(box, WM_COMMAND, button, 0);
    });
}
