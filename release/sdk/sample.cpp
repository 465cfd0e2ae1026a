// Kestrane 超簡易バッチ処理ツールのプラグインの見本
//
// 「サンプル形式」(*.kcm) のファイルにコメントを書き込みます。説明のための
// 架空の形式で、ファイルの中身はコメントだけです。書き込むと、ファイルの
// 中身がそのコメントになります。コメントは Shift_JIS で書き、Shift_JIS に
// ない文字を含むコメントは、先頭に BOM (EF BB BF) を付けた UTF-8 で書きます。
//
// 書き込みは二通りあります。WriteComment / WriteCommentW ではプラグインが
// ファイルを自分で書き換えます。PlanCommentW ではファイルの新しい中身だけを
// ツールに渡し、書き込みはツールがします (readme.txt の「計画」の節)。
//
// 作り方は readme.txt にあります。
#define CPI_PLUGIN  // cpi.h が、出す関数を宣言する
#include "cpi.h"

#include <memory>
#include <new>
#include <string>

namespace {

const char kVersion[] = "Kestrane sample plug-in 1.2";
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

// コメントを、この形式のファイルの中身にする。Shift_JIS で書けるコメントは
// WriteComment と同じバイト列に、書けないものは BOM 付きの UTF-8 にする。
// Shift_JIS しか持てない形式なら、ここで CpiCommentNotHeld を返してファイル
// をそのまま残す。WriteCommentW も PlanCommentW もここを通るので、二つが
// 違うバイト列を作ることはない。
int Encode(const std::wstring& text, std::string& bytes) {
    if (ToCodePage(text, bytes)) return CpiWritten;
    const int size = static_cast<int>(text.size());
    // WC_ERR_INVALID_CHARS: 対になっていないサロゲートは UTF-8 にできない
    bytes.assign(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.c_str(), size, NULL, 0, NULL, NULL), '\0');
    if (bytes.empty()) return CpiCommentNotHeld;
    WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.c_str(), size, &bytes[0], static_cast<int>(bytes.size()),
                        NULL, NULL);
    bytes.insert(0, kUtf8Mark);
    return CpiWritten;
}

// ファイルの中身から読んだコメントを、ツールのバッファー (*length 文字分)
// に入れる。ReadCommentW と ReadCommentBytesW の答え方は同じ。空のファイル
// には、コメントがない。バッファーが足りなければ長さだけを返し、ツールが
// 大きなバッファーでもう一度呼ぶ。
int AnswerComment(const void* contents, DWORD size, LPWSTR comment, DWORD* length) {
    if (size == 0) {
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
}

// PlanCommentW がツールに渡す計画の中身。ツールが ReleasePlanW を呼ぶまで
// 生きている。
struct Plan {
    std::string bytes;  // 新しい中身 (この形式では、中身はコメントだけ)
    CpiPiece piece;
};

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
int WINAPI WriteCommentW(HWND, LPCWSTR path, const void*, DWORD, LPCWSTR comment, DWORD commentLength) {
    return Guarded([&]() -> int {
        std::string bytes;
        const int made = Encode(std::wstring(comment, commentLength), bytes);
        return made == CpiWritten ? Save(path, bytes) : made;
    });
}

// ファイルの今のコメントを UTF-16 で返す。ファイルには書き込まない。
// 書き込めないファイルには、WriteCommentW と同じ値を返す。
int WINAPI ReadCommentW(LPCWSTR path, const void* contents, DWORD size, LPWSTR comment, DWORD* length) {
    return Guarded([&]() -> int {
        const int target = CheckTarget(path);
        if (target != CpiWritten) return target;
        return AnswerComment(contents, size, comment, length);
    });
}

// 計画: ファイルの新しい中身を、ファイルを開かずに、ひと続きの部分
// (CpiPiece) で答える。書き込みと、読み取り専用などの確かめは、ツールが
// する。CpiWritten のときだけ、ツールは後で一度 ReleasePlanW を呼ぶ。
int WINAPI PlanCommentW(LPCWSTR, const void* contents, DWORD size, LPCWSTR comment, DWORD commentLength,
                        CpiPlan* plan) {
    return Guarded([&]() -> int {
        std::string bytes;
        const int made = Encode(std::wstring(comment, commentLength), bytes);
        if (made != CpiWritten) return made;
        std::unique_ptr<Plan> owned(new Plan);
        owned->bytes.swap(bytes);
        const DWORD newSize = static_cast<DWORD>(owned->bytes.size());
        if (owned->bytes.compare(0, std::string::npos, static_cast<const char*>(contents), size) == 0) {
            // 変わらないファイルは、渡された中身そのもの (bytes が NULL なら、
            // 渡された中身の offset から size バイト)。ツールは何も書かない。
            owned->piece.bytes = NULL;
        } else {
            owned->piece.bytes = owned->bytes.data();  // ReleasePlanW まで有効
        }
        owned->piece.offset = 0;
        owned->piece.size = newSize;
        plan->pieceCount = newSize == 0 ? 0 : 1;  // 部分がなければ空のファイル
        plan->pieces = &owned->piece;
        // 書き込んだ時刻を更新日時にする。元の更新日時を保つなら
        // CpiPlanKeepTime を立てる。
        plan->flags = 0;
        plan->owner = owned.release();  // ツールは読まずに、ReleasePlanW に返してくる
        return CpiWritten;
    });
}

// PlanCommentW が計画に入れたものを片付ける。計画一つにつき一度だけ呼ばれる。
void WINAPI ReleasePlanW(CpiPlan* plan) { delete static_cast<Plan*>(plan->owner); }

// 渡された中身だけから、ReadCommentW と同じ答えを返す。ファイルは見ない。
// ツールは計画の中身をこれで読み直して、書く前に確かめる。
int WINAPI ReadCommentBytesW(const void* contents, DWORD size, LPWSTR comment, DWORD* length) {
    return Guarded([&]() -> int { return AnswerComment(contents, size, comment, length); });
}
