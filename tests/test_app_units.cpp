// The pieces of the tool that need no window: its message table (compiled
// into this test program exactly as into the tool), path texts in Shift_JIS,
// and the line breaks of loaded comment text.
#include <gtest/gtest.h>

#include <map>

#include "FilePath.h"
#include "Mbox_res.h"
#include "PathText.h"
#include "TextFile.h"

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
        {43, "メモリエラーです。\nアプリケーションを終了して下さい。"},
        {44, "ファイルの入出力でエラーが起きました。"},
        {45, "プラグインの読み込みに失敗しました。"},
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
    EXPECT_EQ(ToCrLfText("a\nb\rc\r\nd\n\re"), "a\r\nb\r\nc\r\nd\r\n\r\ne");
    EXPECT_EQ(ToCrLfText(std::string("ab\0cd\n", 6)), "ab");
    EXPECT_EQ(ToCrLfText("\r\r\n\n"), "\r\n\r\n\r\n");
    EXPECT_EQ(ToCrLfText("表\n"), "表\r\n");
    EXPECT_EQ(ToCrLfText(""), "");
    EXPECT_THROW(ReadCommentText("C:\\no\\such\\file.txt"), std::runtime_error);
}
