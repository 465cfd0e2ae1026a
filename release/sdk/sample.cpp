// Kestrane 超簡易バッチ処理ツールのプラグインの見本
//
// 「サンプル形式」(*.kcm) のファイルにコメントを書き込みます。説明のための
// 架空の形式で、ファイルの中身はコメントだけです。書き込むと、ファイルの
// 中身がそのコメントになります。コメントは Shift_JIS で書き、Shift_JIS に
// ない文字を含むコメントは、先頭に BOM (EF BB BF) を付けた UTF-8 で書きます。
//
// 作り方は readme.txt にあります。
#define CPI_PLUGIN  // cpi.h が、出す関数を宣言する
#include "cpi.h"

#include <new>
#include <string>

namespace {

const char kVersion[] = "Kestrane sample plug-in 1.1";
const char kPatterns[] = "*.kcm";
const char kDescription[] = "サンプル形式";
const char kUtf8Mark[] = "\xEF\xBB\xBF";  // UTF-8 の BOM
const DWORD kUtf8MarkSize = 3;

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

// 書き込む前の確かめ。書き込めるなら CpiWritten、書き込めないならその理由。
// ReadCommentW も同じ答えを返すように、ここにまとめておく。
int CheckTarget(LPCWSTR path) {
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return CpiFileFailed;
    if (attributes & FILE_ATTRIBUTE_READONLY) return CpiReadOnly;  // 読み取り専用のファイルには書かない
    return CpiWritten;
}

// ファイルの中身を bytes で置き換える。WriteComment も WriteCommentW も
// ここを通る。パスは UTF-16 なので、Shift_JIS にない文字を含む名前や、
// \\?\ で始まる長いパスもそのまま扱える。
int Save(LPCWSTR path, const std::string& bytes) {
    const int target = CheckTarget(path);
    if (target != CpiWritten) return target;

    // 新しい中身をまず同じフォルダーの一時ファイル (名前の後ろに .tmp) に
    // 書き、それで元のファイルを一度に置き換える。途中で失敗しても元の
    // ファイルはそのまま残る。
    const std::wstring temp = std::wstring(path) + L".tmp";
    bool written = false;
    {
        File file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL));
        if (!file.IsOpen()) return CpiFileFailed;
        DWORD done = 0;
        written = WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &done, NULL) &&
                  done == bytes.size() && FlushFileBuffers(file.Get());
    }  // 置き換える前に閉じる
    if (written && MoveFileExW(temp.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return CpiWritten;
    DeleteFileW(temp.c_str());
    return CpiFileFailed;
}

std::wstring Widen(UINT codePage, const char* text, int size) {
    std::wstring wide(MultiByteToWideChar(codePage, 0, text, size, NULL, 0), L'\0');
    if (!wide.empty()) MultiByteToWideChar(codePage, 0, text, size, &wide[0], static_cast<int>(wide.size()));
    return wide;
}

// text をシステムのコード ページ (日本語の Windows では Shift_JIS) にした
// バイト列。一文字でも持てない文字があれば false。WC_NO_BEST_FIT_CHARS を
// 付けても、波ダッシュ (U+301C) が全角チルダ (U+FF5E) になるような、似た
// 字への置き換えは起きることがあるので、元に戻して同じ文字列になるかも
// 確かめる。
bool ToCodePage(const std::wstring& text, std::string& bytes) {
    if (text.empty()) return true;
    const int size = static_cast<int>(text.size());
    BOOL lacking = FALSE;
    bytes.assign(WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), size, NULL, 0, NULL, &lacking),
                 '\0');
    if (bytes.empty() || lacking) return false;
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), size, &bytes[0], static_cast<int>(bytes.size()),
                        NULL, &lacking);
    return !lacking && Widen(CP_ACP, bytes.data(), static_cast<int>(bytes.size())) == text;
}

// work() の戻り値を返す。例外は関数の外に出さない: stdcall で呼んだツール
// の側は、例外を知らない。
template <class Work>
int Guarded(Work work) {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        return CpiNoMemory;
    } catch (...) {
        return CpiUnexpected;
    }
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
// パスとコメントは Shift_JIS。パスを UTF-16 にして、Save に渡す。
int WINAPI WriteComment(HWND, LPCSTR path, const void*, DWORD, LPCSTR comment, DWORD commentLength) {
    return Guarded([&]() -> int {
        return Save(Widen(CP_ACP, path, -1).c_str(), std::string(comment, commentLength));
    });
}

// WriteComment の UTF-16 版。これを出すと、ツールはどのファイルにもこちら
// を呼ぶ。戻り値は cpi.h の Cpi で始まる値で、ツールは失敗の理由を示せる。
// Shift_JIS で書けるコメントは WriteComment と同じバイト列に、書けない
// ものは BOM 付きの UTF-8 にする。Shift_JIS しか持てない形式なら、ここで
// CpiCommentNotHeld を返してファイルをそのまま残す。
int WINAPI WriteCommentW(HWND, LPCWSTR path, const void*, DWORD, LPCWSTR comment, DWORD commentLength) {
    return Guarded([&]() -> int {
        const std::wstring text(comment, commentLength);
        std::string bytes;
        if (ToCodePage(text, bytes)) return Save(path, bytes);
        const int size = static_cast<int>(text.size());
        // WC_ERR_INVALID_CHARS: 対になっていないサロゲートは UTF-8 にできない
        bytes.assign(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.c_str(), size, NULL, 0, NULL, NULL),
                     '\0');
        if (bytes.empty()) return CpiCommentNotHeld;
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.c_str(), size, &bytes[0],
                            static_cast<int>(bytes.size()), NULL, NULL);
        return Save(path, kUtf8Mark + bytes);
    });
}

// ファイルの今のコメントを UTF-16 で返す。ファイルには書き込まない。
// *length が足りなければ必要な長さだけを返し、ツールが大きなバッファーで
// もう一度呼ぶ。書き込めないファイルには、WriteCommentW と同じ値を返す。
int WINAPI ReadCommentW(LPCWSTR path, const void* contents, DWORD size, LPWSTR comment, DWORD* length) {
    return Guarded([&]() -> int {
        const int target = CheckTarget(path);
        if (target != CpiWritten) return target;
        if (size == 0) {  // 空のファイルには、コメントがない
            *length = CPI_NO_COMMENT;
            return CpiWritten;
        }
        const char* bytes = static_cast<const char*>(contents);
        const bool utf8 = size >= kUtf8MarkSize && std::string(bytes, kUtf8MarkSize) == kUtf8Mark;
        const std::wstring text = utf8 ? Widen(CP_UTF8, bytes + kUtf8MarkSize, static_cast<int>(size - kUtf8MarkSize))
                                       : Widen(CP_ACP, bytes, static_cast<int>(size));
        const DWORD room = *length;
        *length = static_cast<DWORD>(text.size());
        if (room > text.size()) {
            text.copy(comment, text.size());
            comment[text.size()] = L'\0';
        }
        return CpiWritten;
    });
}
