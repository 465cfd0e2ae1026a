// Kestrane 超簡易バッチ処理ツールのプラグインの見本
//
// 「サンプル形式」(*.kcm) のファイルにコメントを書き込みます。説明のための
// 架空の形式で、ファイルの中身はコメントだけです。書き込むと、ファイルの
// 中身がそのコメントになります。
//
// 作り方は readme.txt にあります。
#define CPI_PLUGIN  // cpi.h が、出す三つの関数を宣言する
#include "cpi.h"

namespace {

const char kVersion[] = "Kestrane sample plug-in 1.0";
const char kPatterns[] = "*.kcm";
const char kDescription[] = "サンプル形式";

// text をツールの buffer に写す。長すぎる分は切り、必ず NUL で終える。
int Answer(const char* text, LPSTR buffer, int bufferSize) {
    if (buffer == NULL || bufferSize <= 0) return 0;
    lstrcpynA(buffer, text, bufferSize);
    return lstrlenA(buffer);
}

// ファイルのハンドルを一つ持ち、どの道を通っても必ず閉じる。
class File {
public:
    explicit File(HANDLE handle) : handle_(handle) {}
    ~File() {
        if (IsOpen()) CloseHandle(handle_);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle_; }

private:
    HANDLE handle_;
};

// path のうちフォルダーの部分 (最後の '\' まで) のバイト数。Shift_JIS では
// 0x5C ('\') が漢字の 2 バイト目にもなるので、CharNextA で一文字ずつ進む。
int FolderLength(LPCSTR path) {
    LPCSTR end = path;
    for (LPCSTR p = path; *p != '\0'; p = CharNextA(p))
        if (*p == '\\') end = p + 1;
    return static_cast<int>(end - path);
}

}  // namespace

int WINAPI GetPluginInfo(int info, LPSTR buffer, int bufferSize) {
    switch (info) {
    case InfoTag: return Answer(CPI_TAG, buffer, bufferSize);
    case InfoVersion: return Answer(kVersion, buffer, bufferSize);
    case InfoPatterns: return Answer(kPatterns, buffer, bufferSize);
    case InfoDescription: return Answer(kDescription, buffer, bufferSize);
    }
    return 0;
}

int WINAPI ConfigurationDlg(HWND window, int mode) {
    switch (mode) {
    case ModeQuery:
        return CapAbout;  // 情報画面だけ。設定画面もあれば CapSettings を足す
    case ModeAbout:
        MessageBoxA(window, "サンプル形式 (*.kcm) にコメントを書き込む、プラグインの見本です。",
                    "情報", MB_OK | MB_ICONINFORMATION);
        return 0;
    }
    return 1;
}

// 戻り値 0 が成功。それ以外は、ツールがそのファイルを失敗として記録する。
int WINAPI WriteComment(HWND, LPCSTR path, const void*, DWORD, LPCSTR comment, DWORD commentLength) {
    // 読み取り専用のファイルには書かない。
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY)) return 1;

    // 新しい中身をまず同じフォルダーの一時ファイルに書き、それで元のファイル
    // を一度に置き換える。途中で失敗しても元のファイルはそのまま残る。
    char folder[MAX_PATH];
    const int folderLength = FolderLength(path);
    if (folderLength == 0 || folderLength >= MAX_PATH) return 2;
    lstrcpynA(folder, path, folderLength + 1);
    char temp[MAX_PATH];
    if (GetTempFileNameA(folder, "kcm", 0, temp) == 0) return 2;

    bool written = false;
    {
        File file(CreateFileA(temp, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL));
        DWORD done = 0;
        written = file.IsOpen() && WriteFile(file.Get(), comment, commentLength, &done, NULL) &&
                  done == commentLength && FlushFileBuffers(file.Get());
    }  // 置き換える前に閉じる
    if (written && MoveFileExA(temp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
    DeleteFileA(temp);
    return 3;
}
