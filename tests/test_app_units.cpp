// The pieces of the tool that need no window: its message table (compiled
// into this test program exactly as into the tool), path texts in Shift_JIS,
// and the line breaks of loaded comment text.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <vector>

#include "FilePath.h"
#include "Mbox_res.h"
#include "PathText.h"
#include "SafeReplace.h"
#include "TestSupport.h"
#include "TextFile.h"
#include "Application.h"

using namespace kes_test;

TEST(MessageTable, HoldsExactlyTheNumberedTexts) {
    // This source is compiled to Shift_JIS like the tool's; the table goes
    // through the resource compiler instead, so the two must meet here.
    const std::map<int, std::string> expected = {
        {5, "情報"},
        {6, "警告"},
        {7, "確認"},
        {10, "プラグインが一つも見つかりません。\nアプリケーションと同じディレクトリに置いて下さい。"},
        {20, "ディレクトリを選択"},
        {21, "指定されたディレクトリは存在しません。\n指定し直して下さい。"},
        {30, "処理するファイルの検索中です。(ESCで中止)"},
        {31, "ファイルの検索をキャンセルしました。"},
        {32, "処理対象となるファイルはありませんでした。"},
        {33, "個のファイルを処理します。(ESCで中止)"},
        {34, "処理を中止しました。"},
        {35, "コメントの書き込みが完了しました。"},
        {36, "個のファイルでエラーが起きました。確認して下さい。"},
        {37, "オンライン専用のため残しました : "},
        {38, "個のファイルはオンライン専用のため、読まずに残しました。オフラインでも使えるようにしてから、もう一度実行して下さい。"},
        {39, "書き込んだ結果が正しく読めないので、元に戻しました"},
        {40, "書き込んだ結果が正しく読めず、元に戻せませんでした"},
        {41, "元に戻すための記録を書けないので、元に戻しました"},
        {42, "元に戻すための記録を書き込めないため、処理を中止しました。\nディスクの空きと、%LOCALAPPDATA%\\Kestrane に書き込めるかを確かめて下さい。"},
        {43, "メモリエラーです。\nアプリケーションを終了して下さい。"},
        {44, "ファイルの入出力でエラーが起きました。"},
        {45, "プラグインの読み込みに失敗しました。"},
        {46, "コメントに、選んだプラグインでは書き込めない文字があります。\nこのプラグインが扱えるのはシフトJISの文字だけです。"},
        {47, "テキストファイルの文字コードがわかりません。\nUTF-8、UTF-16、シフトJISのどれかで保存して下さい。"},
        {49, "ファイルを開けないか、読めません"},
        {51, "形式が違うか、ファイルが壊れています"},
        {52, "読み取り専用です"},
        {53, "ファイルを置き換えられませんでした"},
        {54, "メモリが足りません"},
        {55, "読んだ後で他のプログラムが変更しました"},
        {56, "プラグインの中で思わぬエラーが起きました"},
        {57, "この形式では保存できない文字がコメントにあります"},
        {58, "書き込みましたが、元の内容の控えを削除できませんでした"},
        {59, "コメントが長すぎて、この形式には入りません"},
        {60, "プレビュー"},
        {61, "ファイル\t今のコメント\t実行すると"},
        {62, "個のファイルを調べています。(ESCで中止)"},
        {63, "書き込みます"},
        {64, "書き込めません"},
        {66, "オンライン専用のファイルです"},
        {67, "わかりません (このプラグインはコメントを読めません)"},
        {68, "ファイル %1 個のうち、コメントのあるもの %2 個、書き込めないもの %3 個"},
        {69, "記録の途中が壊れているため、その先に書き込んだファイルはわかりません。"},
        {70, "元に戻せる実行はありません。"},
        {71, "次の実行で書き込んだファイルを元に戻しますか？\n\n日時 : %1\nフォルダー : %2\n種類 : %3\nファイル : %4 個\n\n実行の後で変えられたファイルは、そのまま残します。"},
        {72, "個のファイルを元に戻します。(ESCで中止)"},
        {73, "元に戻しました。"},
        {74, "実行の後で変えられたので残しました : "},
        {75, "記録が壊れているので残しました : "},
        {76, "置き換えられないので残しました : "},
        {77, "個のファイルは元に戻さずに残しました。確認して下さい。"},
        {78, "元に戻すための記録が壊れていて読めません。"},
        {79, "名前かコメントに、このプラグインが扱えない文字があります"},
        {80, "名前の終わりがピリオドか空白か、装置の名前なので、このプラグインには渡せません"},
        {81, "フォルダーを検索できません"},
        {82, "プラグインがファイルを消したので、元の内容で作り直しました"},
        {83, "実行の後で移されたか、消されたので残しました : "},
        {84, "他のプログラムが使っているので残しました : "},
        {86, "書き込む内容を確かめると、コメントが正しく読めないので、書き込みませんでした"},
        {85, "この実行は、動いている別のウィンドウが記録しているところです。\nその実行が終わってから、もう一度元に戻して下さい。"},
        {87, "他のプログラムが使っています"},
        {88, "%1 が使っています"},
        {89, "アクセスが拒否されました"},
        {90, "ディスクの空きが足りません"},
        {91, "クラウドの同期アプリが動いていないので、ファイルを開けません"},
        {92, "プラグインの応答: %1"},
    };
    for (int id = 0; id < 256; ++id) {
        const auto it = expected.find(id);
        EXPECT_EQ(LoadResString(id), it == expected.end() ? "" : it->second) << "id " << id;
    }
    // Shift_JIS bytes, not UTF-8: "情報" is four bytes beginning 0x8f.
    EXPECT_EQ(LoadResString(5), "\x8f\xee\x95\xf1");
    // Half-width parentheses and "ESC" in the log lines.
    EXPECT_NE(LoadResString(33).find("(ESC"), std::string::npos);
    EXPECT_EQ(LoadResString(21).find('\r'), std::string::npos);
}

TEST(PathText, DelimitersRespectDoubleByteCharacters) {
    // "表" is 0x95 0x5c and "ソ" 0x83 0x5c: their second byte is no '\'.
    const std::string hyo = "C:\\data\\\x95\x5c";
    const std::string so = "C:\\\x83\x5c";
    EXPECT_FALSE(EndsWithPathDelimiter(hyo));
    EXPECT_EQ(IncludeTrailingPathDelimiter(hyo), hyo + "\\");
    EXPECT_EQ(IncludeTrailingPathDelimiter(so), so + "\\");
    EXPECT_EQ(IncludeTrailingPathDelimiter(hyo + "\\"), hyo + "\\");
    EXPECT_EQ(IncludeTrailingPathDelimiter("C:\\"), "C:\\");  // a drive root keeps its one '\'
    EXPECT_EQ(IncludeTrailingPathDelimiter("C:\\tmp"), "C:\\tmp\\");
    EXPECT_EQ(IncludeTrailingPathDelimiter(""), "\\");

    EXPECT_EQ(ExtractFilePath("C:\\tools\\kes_bat.exe"), "C:\\tools\\");
    EXPECT_EQ(ExtractFilePath("C:kes_bat.exe"), "C:");
    EXPECT_EQ(ExtractFilePath("kes_bat.exe"), "");
    // A folder named "表" holding the program: the last real '\' counts.
    EXPECT_EQ(ExtractFilePath("C:\\\x95\x5c\\kes_bat.exe"), "C:\\\x95\x5c\\");
    EXPECT_EQ(ExtractFilePath("C:\\a\\\x95\x5cname.exe"), "C:\\a\\");
}

TEST(FilePath, LongAndOddNamesReachWin32InTheVerbatimForm) {
    // Short, plain paths go as they are.
    EXPECT_EQ(TFilePath(L"C:\\music\\a.mp3").Win32(), L"C:\\music\\a.mp3");
    // A name ending in a dot or blank would lose it through Win32.
    EXPECT_EQ(TFilePath(L"C:\\music\\song.").Win32(), L"\\\\?\\C:\\music\\song.");
    EXPECT_EQ(TFilePath(L"C:\\music\\*.").Win32(), L"C:\\music\\*.");  // a pattern, not a name
    // Long: absolute, "/" "." ".." and doubled delimiters resolved by our
    // own code, a trailing delimiter kept; UNC paths keep server and share.
    const std::wstring deep(300, L'd');
    EXPECT_EQ(TFilePath(L"C:/a//./b/../" + deep + L"\\").Win32(), L"\\\\?\\C:\\a\\" + deep + L"\\");
    EXPECT_EQ(TFilePath(L"\\\\srv\\share\\..\\" + deep).Win32(), L"\\\\?\\UNC\\srv\\share\\" + deep);
    // A relative long path is taken from the current folder.
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    const std::wstring got = TFilePath(deep).Win32();
    EXPECT_EQ(got.substr(0, 4), L"\\\\?\\");
    EXPECT_EQ(got.substr(got.size() - deep.size() - 1), L"\\" + deep);
    EXPECT_NE(got.find(std::wstring(current).substr(3)), std::wstring::npos);

    // The code page's form only where it is exact and fits MAX_PATH.
    std::string ansi;
    EXPECT_TRUE(TFilePath(L"C:\\\u8868\\a.txt").ToAnsi(ansi));
    EXPECT_EQ(ansi, "C:\\\x95\x5c\\a.txt");
    EXPECT_FALSE(TFilePath(L"C:\\caf\u00e9\\a.txt").ToAnsi(ansi));
    EXPECT_FALSE(TFilePath(L"C:\\x\u00a5..\u00a5v.txt").ToAnsi(ansi));  // "¥" would become "\"
    EXPECT_FALSE(TFilePath(L"C:\\" + deep).ToAnsi(ansi));

    EXPECT_EQ(TFilePath(L"C:\\a\\b.txt").Folder().Text(), L"C:\\a\\");
    EXPECT_EQ(TFilePath(L"C:\\a\\b.txt").Name(), L"b.txt");
    EXPECT_EQ(TFilePath(L"C:").WithTrailingDelimiter().Text(), L"C:\\");
    EXPECT_EQ(TFilePath(L"C:\\").WithTrailingDelimiter().Text(), L"C:\\");
}

TEST(TextFile, EveryLineBreakBecomesCrLf) {
    EXPECT_EQ(ToCrLfText(L"a\nb\rc\r\nd\n\re"), L"a\r\nb\r\nc\r\nd\r\n\r\ne");
    EXPECT_EQ(ToCrLfText(std::wstring(L"ab\0cd\n", 6)), L"ab");
    EXPECT_EQ(ToCrLfText(L"\r\r\n\n"), L"\r\n\r\n\r\n");
    EXPECT_EQ(ToCrLfText(L""), L"");
    EXPECT_THROW(ReadCommentText(AnsiPath("C:\\no\\such\\file.txt")), TUserError);
}

// Notepad saves UTF-8 by default; older editors Shift_JIS; some UTF-16.
TEST(TextFile, CommentFilesAreDecodedByTheirMarkOrTheirBytes) {
    const std::wstring heart = L"caf\u00e9 \u2661 \u8868";  // "café ♡ 表"
    const std::string utf8 = "caf\xc3\xa9 \xe2\x99\xa1 \xe8\xa1\xa8";
    EXPECT_EQ(DecodeText(utf8), heart);
    EXPECT_EQ(DecodeText("\xEF\xBB\xBF" + utf8), heart);
    EXPECT_EQ(DecodeText(std::string("\xFF\xFEh\0\xe9\0\x61\x26", 8)), L"h\u00e9\u2661");
    EXPECT_EQ(DecodeText(std::string("\xFE\xFF\0h\0\xe9\xd8\x3d\xde\x00", 10)), L"h\u00e9\U0001F600");
    EXPECT_EQ(DecodeText("\x95\x5c\x83\x52"), L"\u8868\u30b3");  // Shift_JIS "表コ": no valid UTF-8
    EXPECT_EQ(DecodeText("plain"), L"plain");
    EXPECT_EQ(DecodeText(""), L"");
    // Neither valid UTF-8 nor Shift_JIS (a lead byte before a blank), a
    // broken UTF-8 after its mark, half a UTF-16 unit, a lone surrogate.
    EXPECT_EQ(DecodeText("ok \x82\x20 \xc3"), std::nullopt);
    EXPECT_EQ(DecodeText("\xEF\xBB\xBF\x95\x5c"), std::nullopt);
    EXPECT_EQ(DecodeText(std::string("\xFF\xFEh", 3)), std::nullopt);
    EXPECT_EQ(DecodeText(std::string("\xFF\xFE\x3d\xd8h\0", 6)), std::nullopt);

    // A real file, line breaks made CR LF.
    TempDir dir;
    const std::string file = dir.MakeFile("n.txt", "\xEF\xBB\xBF" + utf8 + "\nnext");
    EXPECT_EQ(ReadCommentText(AnsiPath(file)), heart + L"\r\nnext");
}

TEST(SafeReplace, AVolumeFlushAnswersForWhatItWasGivenAndServesOneFileSystem) {
    // Under Wine on Linux it is the volume's syncfs, whose answer it gives.
    // Z: is the whole Unix tree: /dev/shm is another file system than the
    // build's, which a syncfs there would not reach.
    const std::vector<std::string> paths = {ExeDir() + "volume_flush.tmp", ExeDir() + "volume_flush2.tmp",
                                            "Z:\\dev\\shm\\kes_volume_flush.tmp"};
    std::vector<std::optional<uint64_t>> groups;
    for (const std::string& path : paths) {
        WriteFileBytes(path, "data");
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
        EXPECT_TRUE(kes::FlushVolume(file)) << path;
        groups.push_back(kes::FlushGroupOf(file, 7));  // one drive's serial for all
        CloseHandle(file);
        DeleteFileA(path.c_str());
    }
    ASSERT_TRUE(groups[0] && groups[2]);
    EXPECT_EQ(groups[0], groups[1]);
    EXPECT_NE(groups[0], groups[2]);
    // An object that is no file is no flush.
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_FALSE(kes::FlushVolume(event));
    CloseHandle(event);
}
