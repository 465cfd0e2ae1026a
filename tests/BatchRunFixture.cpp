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
        CreateDirectoryW(TFilePath(path.substr(0, at)).Win32().c_str(), nullptr);
    CFileHandle file(CreateFileW(TFilePath(path).Win32().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                                 nullptr));
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

std::string Ktf(const std::wstring& comment) {
    return "KTF1" + std::string(reinterpret_cast<const char*>(comment.data()), comment.size() * sizeof(wchar_t)) +
           "END!";
}

void ForEachFile(const std::wstring& dir, const std::function<void(const std::wstring&, const WIN32_FIND_DATAW&)>& f) {
    WIN32_FIND_DATAW d;
    HANDLE h = FindFirstFileW((dir + L"*").c_str(), &d);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = d.cFileName;
        if (name == L"." || name == L"..") continue;
        if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ForEachFile(dir + name + L"\\", f);
        else
            f(dir + name, d);
    } while (FindNextFileW(h, &d));
    FindClose(h);
}

Snapshot TakeSnapshot(const std::wstring& dir) {
    Snapshot files;
    ForEachFile(dir, [&](const std::wstring& path, const WIN32_FIND_DATAW& d) {
        TFileContents contents;
        EXPECT_EQ(ReadWholeFile(TFilePath(path).Win32(), contents), TReadResult::Read);
        files[path] = {std::string(contents.View()),
                       ULONGLONG{d.ftLastWriteTime.dwHighDateTime} << 32 | d.ftLastWriteTime.dwLowDateTime};
    });
    return files;
}

void AgeFiles(const std::wstring& dir) {
    ForEachFile(dir, [](const std::wstring& path, const WIN32_FIND_DATAW&) {
        CFileHandle file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     0, nullptr));
        const FILETIME old{0x12345678, 0x01c00000};
        EXPECT_TRUE(SetFileTime(file.Get(), nullptr, nullptr, &old));
    });
}

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
