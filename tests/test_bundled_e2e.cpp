// The real kes_bat.exe with the plug-ins it ships with, driven through its
// window over real files that the formats' own tools made: names and
// comments the code page cannot hold, a path beyond MAX_PATH, and the
// preview of every bundled type. What the plug-ins wrote is read back by
// the readers people use.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>

#include "Handles.h"
#include "KesDriver.h"
#include "TestSupport.h"
#include "Mbox_res.h"
#include "UnicodeFiles.h"
#include "kes_bat_ids.h"
#include "kes_bat_msg.h"
#include "kes_bat_texts.h"
#include "kes_bundled.h"

using namespace kes_test;
using Lines = std::vector<std::wstring>;

namespace {

std::wstring Res(int id) { return AnsiText(LoadResString(id)); }

std::wstring Extension(const std::string& name) { return Wide(name.substr(name.rfind('.'))); }

std::string Utf8(const std::wstring& text) {
    std::string bytes(text.size() * 3, '\0');
    bytes.resize(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                                         bytes.data(), static_cast<int>(bytes.size()), nullptr,
                                                         nullptr)));
    return bytes;
}

std::wstring FromUtf8(const std::string& bytes) {
    std::wstring text(bytes.size(), L'\0');
    text.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()),
                                                        text.data(), static_cast<int>(text.size()))));
    return text;
}

// kes_bat.exe with every bundled plug-in beside it, in a folder of its own,
// started.
class TBundledTool {
public:
    TBundledTool() : plugins_(CopyBundledPlugins(dir_.Path())) {}
    TKesDriver& operator*() { return tool_; }
    TKesDriver* operator->() { return &tool_; }
    int Plugins() const { return plugins_; }

private:
    TempDir dir_;
    int plugins_;
    TKesDriver tool_{dir_.Path(), {}};
};

// Chooses the type whose patterns hold `pattern`, as a user picks it.
void ChooseType(const TKesDriver& tool, const std::string& pattern) {
    const std::vector<std::string> items = tool.ComboItems();
    const auto it = std::find_if(items.begin(), items.end(),
                                 [&](const std::string& item) { return item.find(pattern) != std::string::npos; });
    ASSERT_NE(it, items.end()) << pattern;
    tool.ChooseCombo(static_cast<int>(it - items.begin()));
}

// The comments of files (full Windows paths), as the readers of
// tests/peer_comments.sh print them, in the same order.
std::vector<std::wstring> PeerComments(const std::vector<std::wstring>& files) {
    TempDir work;
    std::string list;
    for (const std::wstring& file : files) list += UnixPath(file) + "\n";
    WriteFileBytes(work / "list", list);
    const std::string unixWork = UnixPath(AnsiText(work.Path()));
    std::vector<std::wstring> comments;
    if (!RunUnixProgram("/bin/bash", {KES_PEER_COMMENTS, unixWork + "/list", unixWork + "/out"}, work / "out")) {
        ADD_FAILURE() << "the readers gave no answer";
        return comments;
    }
    const std::string out = ReadFileBytes(work / "out");
    for (size_t at = 0, end; (end = out.find('\0', at)) != std::string::npos; at = end + 1)
        comments.push_back(FromUtf8(out.substr(at, end - at)));
    return comments;
}

std::wstring WithoutCr(std::wstring text) {
    text.erase(std::remove(text.begin(), text.end(), L'\r'), text.end());
    return text;
}

// A JPEG file's comment segment as rdjpgcom gives its bytes, with a line
// feed, and its XPComment as exiftool reads it, in UTF-8.
std::string JpegComments(const std::wstring& file) {
    TempDir work;
    const std::string out = UnixPath(AnsiText(work.Path())) + "/out";
    const char* script = "{ rdjpgcom -raw \"$1\" && exiftool -b -XPComment \"$1\"; } >\"$2.tmp\" && mv \"$2.tmp\" \"$2\"";
    if (!RunUnixProgram("/bin/bash", {"-c", script, "-", UnixPath(file), out}, work / "out")) return "(no answer)";
    return ReadFileBytes(work / "out");
}

// A run's log with its error lines, which come in the order the search
// met the files, sorted.
Lines SortedErrors(Lines lines) {
    const std::wstring prefix = AnsiText(KES_ERROR_PREFIX);
    const auto isError = [&](const std::wstring& line) { return line.rfind(prefix, 0) == 0; };
    const auto first = std::find_if(lines.begin(), lines.end(), isError);
    std::sort(first, std::find_if_not(first, lines.end(), isError));
    return lines;
}

}  // namespace

// Folders and files whose names hold a heart, Latin letters with marks, the
// wave dash, hangul and a character beyond U+FFFF, one of them at the end of
// a path of over 300 characters, for every bundled type; a comment with
// such characters and a line break. The formats that store Unicode take it
// and the readers people use read it back; those that store code page 932
// refuse each file, say why, and leave it as it was.
TEST(BundledE2E, EveryNameAndCommentThroughTheWindow) {
    ASSERT_EQ(GetACP(), 932u);
    struct TKind {
        const char* Pattern;
        std::vector<std::string> Samples;
        bool HoldsUnicode;
    };
    const TKind kinds[] = {
        {"*.mp3", {"v23.mp3"}, true},    {"*.flac", {"commented.flac"}, true},
        {"*.ogg", {"commented.ogg", "commented.opus"}, true},
        {"*.png", {"commented.png"}, true}, {"*.zip", {"commented.zip"}, false},
        {"*.jpg", {"commented.jpg"}, false}, {"*.gif", {"commented.gif"}, false},
        {"*.wav", {"commented.wav"}, true},
        {"*.m4a", {"commented.m4a", "video.mp4"}, true},
    };
    CUnicodeDir target;
    const std::wstring named = target.Make(L"Sigur Rós ♡ Ryūichi〜\\한국어 𝄞\\");
    const std::wstring deep =
        target.Make(std::wstring(99, L'ā') + L"\\" + std::wstring(80, L'♡') + L"\\" + std::wstring(80, L'한') + L"\\");
    const std::wstring base = L"恋のうた♡ Beyoncé〜 노래 𝄞";
    EXPECT_GT((deep + base + L".flac").size(), 300u);
    std::set<std::wstring> names;
    for (const TKind& kind : kinds)
        for (const std::string& sample : kind.Samples) {
            names.insert(base + Extension(sample));
            for (const std::wstring& folder : {named, deep}) PutFile(folder + base + Extension(sample), Sample(sample));
        }

    TBundledTool tool;
    ASSERT_EQ(tool.Plugins(), static_cast<int>(std::size(kBundledPlugins)));
    ASSERT_TRUE(tool->Start());
    const std::wstring comment = L"Café ♡ Ryūichi\r\n한국어 𝄞";
    tool->SetText(IDC_MEMO_COMMENT, comment);
    tool->SetText(IDC_EDIT_DIR, target.Path());
    tool->SetChecked(IDC_CHECKBOX_SUBDIR, true);
    std::vector<std::wstring> written;
    for (const TKind& kind : kinds) {
        std::vector<std::wstring> files;
        for (const std::string& sample : kind.Samples)
            for (const std::wstring& folder : {named, deep}) files.push_back(folder + base + Extension(sample));
        ChooseType(*tool, kind.Pattern);
        tool->Click(IDC_BUTTON_START);  // returns when the run has ended
        const std::wstring count = std::to_wstring(files.size());
        Lines expected = {count + Res(IDS_LOG_FILE_COUNT)};
        if (!kind.HoldsUnicode)
            for (const std::wstring& file : files)
                expected.push_back(AnsiText(KES_ERROR_PREFIX) + file + L" (" + Res(IDS_REASON_COMMENT_NOT_HELD) + L")");
        expected.push_back(Res(IDS_LOG_COMPLETED));
        if (!kind.HoldsUnicode) expected.push_back(count + Res(IDS_LOG_ERROR_COUNT));
        EXPECT_EQ(SortedErrors(tool->WideLogLines()), SortedErrors(expected)) << kind.Pattern;
        if (!kind.HoldsUnicode) continue;

        // The preview reads back what was written, on one line.
        written.insert(written.end(), files.begin(), files.end());
        tool->Menu(IDM_PREVIEW);  // returns when the preview has read every file
        std::vector<std::vector<std::wstring>> rows = tool->PreviewRows(), wanted;
        for (const std::wstring& file : files)
            wanted.push_back({file, L"Café ♡ Ryūichi¶한국어 𝄞", Res(IDS_PREVIEW_WRITE)});
        std::sort(rows.begin(), rows.end());
        std::sort(wanted.begin(), wanted.end());
        EXPECT_EQ(rows, wanted) << kind.Pattern;
    }
    tool->PostMenu(IDM_EXIT);
    EXPECT_EQ(tool->WaitExit(), 0u);

    // What each reader shows: an MP3's or a WAV file's one comment frame,
    // without a description, and no ID3v1 comment or ICMT item left; the
    // one COMMENT field of a FLAC or Vorbis stream, the old ones gone.
    const std::wstring shown = WithoutCr(comment);
    const std::map<std::wstring, std::wstring> byReader = {{L".mp3", L"=" + shown},
                                                           {L".flac", L"COMMENT=" + shown},
                                                           {L".ogg", L"COMMENT=" + shown},
                                                           {L".opus", shown},
                                                           {L".png", shown},
                                                           {L".wav", L"=" + shown},

                                                           {L".m4a", shown},
                                                           {L".mp4", shown}};
    const std::vector<std::wstring> read = PeerComments(written);
    ASSERT_EQ(read.size(), written.size());
    for (size_t i = 0; i < written.size(); ++i)
        EXPECT_EQ(read[i], byReader.at(written[i].substr(written[i].rfind(L'.')))) << Utf8(written[i]);
    for (const TKind& kind : kinds)
        for (const std::string& sample : kind.Samples)
            for (const std::wstring& folder : {named, deep}) {
                const std::wstring file = folder + base + Extension(sample);
                EXPECT_EQ(GetFile(file) == Sample(sample), !kind.HoldsUnicode) << Utf8(file);
            }
    // Nothing else beside them: no temporary file, no copy left behind.
    for (const std::wstring& folder : {named, deep}) {
        const std::vector<std::wstring> found = NamesIn(folder);
        EXPECT_EQ(std::set<std::wstring>(found.begin(), found.end()), names);
    }
}

// For each bundled type, a run taken back: every file it wrote is byte for
// byte as before, with its time (a JPEG's two comments too); a file changed since, one deleted and one
// renamed are left and listed.
TEST(BundledE2E, EveryBundledTypesRunIsUndoneByteForByte) {
    const std::pair<const char*, std::string> kinds[] = {
        {"*.mp3", "v23.mp3"},         {"*.flac", "commented.flac"}, {"*.ogg", "commented.ogg"},
        {"*.png", "commented.png"},   {"*.zip", "commented.zip"},   {"*.jpg", "commented.jpg"},
        {"*.gif", "commented.gif"},   {"*.wav", "commented.wav"},
        {"*.m4a", "commented.m4a"},   {"*.jpg", "exif_mm.jpg"},  // a phone's photo
    };
    TBundledTool tool;
    ASSERT_TRUE(tool->Start());
    const std::string comment = "取り消すコメント";
    tool->SetText(IDC_MEMO_COMMENT, comment);
    const FILETIME longAgo{0x12345678, 0x01c00000};
    for (const auto& [pattern, sample] : kinds) {
        SCOPED_TRACE(pattern);
        CUnicodeDir target;
        const std::wstring ext = Extension(sample);
        for (const wchar_t* name : {L"a", L"b ♡", L"changed", L"deleted", L"renamed"}) {
            const std::wstring path = target.Path() + name + ext;
            PutFile(path, Sample(sample));
            CFileHandle file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(SetFileTime(file.Get(), nullptr, nullptr, &longAgo));
        }
        const Snapshot before = TakeSnapshot(target.Path());
        ChooseType(*tool, pattern);
        tool->SetText(IDC_EDIT_DIR, target.Path());
        tool->Click(IDC_BUTTON_START);  // returns when the run has ended
        ASSERT_EQ(Changes(before, TakeSnapshot(target.Path())).size(), 5u) << "the run wrote every file";
        // By default the JPEG plug-in writes both the segment and XPComment.
        if (ext == L".jpg") {
            EXPECT_EQ(JpegComments(target.Path() + L"a.jpg"), comment + "\n" + Utf8(L"取り消すコメント"));
        }
        PutFile(target.Path() + L"changed" + ext, "changed since");
        ASSERT_TRUE(DeleteFileW((target.Path() + L"deleted" + ext).c_str()));
        ASSERT_TRUE(MoveFileW((target.Path() + L"renamed" + ext).c_str(), (target.Path() + L"moved" + ext).c_str()));

        tool->PostMenu(IDM_UNDO);
        TBox question;
        ASSERT_TRUE(tool->WaitBox(question));
        tool->AnswerDialog(IDYES);
        ASSERT_TRUE(WaitFor([&] {
            const Lines log = tool->WideLogLines();
            return !log.empty() && log.back().find(Res(IDS_UNDO_LEFT_COUNT)) != std::wstring::npos;
        }, 30000));
        const Snapshot after = TakeSnapshot(target.Path());
        for (const wchar_t* name : {L"a", L"b ♡"})
            EXPECT_EQ(after.at(target.Path() + name + ext), before.at(target.Path() + name + ext)) << Utf8(name);
        std::map<int, Lines> left;
        for (const std::wstring& line : tool->WideLogLines())
            for (const int why : {IDS_UNDO_LEFT_CHANGED, IDS_UNDO_LEFT_MOVED})
                if (line.rfind(Res(why), 0) == 0) left[why].push_back(line.substr(Res(why).size()));
        std::sort(left[IDS_UNDO_LEFT_MOVED].begin(), left[IDS_UNDO_LEFT_MOVED].end());
        EXPECT_EQ(left, (std::map<int, Lines>{{IDS_UNDO_LEFT_CHANGED, {target.Path() + L"changed" + ext}},
                                              {IDS_UNDO_LEFT_MOVED,
                                               {target.Path() + L"deleted" + ext, target.Path() + L"renamed" + ext}}}));
    }
    tool->PostMenu(IDM_EXIT);
    EXPECT_EQ(tool->WaitExit(), 0u);
}

// For each bundled type, a file with the comment the format's own tool gave
// it, one without, and one cut short inside its header, as an interrupted
// copy leaves it: the preview shows the comment, nothing, and the refusal
// with its reason, counts them, and writes nothing.
TEST(BundledE2E, ThePreviewOfEveryBundledTypeReadsAndWritesNothing) {
    struct TKind {
        const char* Pattern;
        std::string Commented, Plain;
        std::wstring Shown;  // the sample's comment on one line
    };
    // The FLAC and Vorbis samples have a second COMMENT field, which the
    // preview shows after a line break.
    const TKind kinds[] = {
        {"*.mp3", "v23.mp3", "plain.mp3", L"old comment"},
        {"*.flac", "commented.flac", "plain.flac", L"old comment¶second old one"},
        {"*.ogg", "commented.ogg", "plain.ogg", L"old comment¶second old one"},
        {"*.png", "commented.png", "plain.png", L"old comment"},
        {"*.zip", "commented.zip", "stored.zip", L"old comment"},
        {"*.jpg", "xp.jpg", "plain.jpg", L"old XP comment"},  // Windows' comment, in Exif
        {"*.gif", "commented.gif", "plain.gif", L"old comment"},
        {"*.wav", "commented.wav", "plain.wav", L"old comment"},
        {"*.m4a", "commented.m4a", "plain.m4a", L"old comment"},
    };
    CUnicodeDir target;
    for (const TKind& kind : kinds) {
        const std::wstring folder = target.Make(Extension(kind.Commented).substr(1) + L" ♡\\");
        const std::wstring ext = Extension(kind.Commented);
        PutFile(folder + L"コメントあり é" + ext, Sample(kind.Commented));
        PutFile(folder + L"コメントなし〜" + ext, Sample(kind.Plain));
        PutFile(folder + L"途中まで 한" + ext, Sample(kind.Commented).substr(0, 20));
    }
    const Snapshot before = TakeSnapshot(target.Path());

    TBundledTool tool;
    ASSERT_TRUE(tool->Start());
    for (const TKind& kind : kinds) {
        const std::wstring folder = target.Path() + Extension(kind.Commented).substr(1) + L" ♡\\";
        const std::wstring ext = Extension(kind.Commented);
        ChooseType(*tool, kind.Pattern);
        tool->SetText(IDC_EDIT_DIR, folder);
        tool->Menu(IDM_PREVIEW);  // returns when the preview has read every file
        ASSERT_NE(tool->PreviewWindow(), nullptr) << kind.Pattern;
        const std::map<std::wstring, std::vector<std::wstring>> expected = {
            {folder + L"コメントあり é" + ext, {kind.Shown, Res(IDS_PREVIEW_WRITE)}},
            {folder + L"コメントなし〜" + ext, {L"", Res(IDS_PREVIEW_WRITE)}},
            {folder + L"途中まで 한" + ext,
             {L"", Res(IDS_PREVIEW_REFUSE) + L" (" + Res(IDS_REASON_REFUSED) + L")"}},
        };
        std::map<std::wstring, std::vector<std::wstring>> shown;
        for (const std::vector<std::wstring>& row : tool->PreviewRows())
            shown[row.at(0)] = std::vector<std::wstring>(row.begin() + 1, row.end());
        EXPECT_EQ(shown, expected) << kind.Pattern;
        EXPECT_EQ(Narrow(tool->PreviewText(IDC_PREVIEW_SUMMARY)),
                  "ファイル 3 個のうち、コメントのあるもの 1 個、書き込めないもの 1 個")
            << kind.Pattern;
        EXPECT_EQ(tool->PreviewText(IDC_PREVIEW_COUNT), L"3 / 3") << kind.Pattern;
        EXPECT_TRUE(tool->IsEnabled(IDC_BUTTON_START));
    }
    tool->PostMenu(IDM_EXIT);
    EXPECT_EQ(tool->WaitExit(), 0u);
    EXPECT_EQ(Changes(before, TakeSnapshot(target.Path())), std::vector<std::wstring>());
}

namespace {

// A picture of the window as the screen shows it, frame included, saved as
// PNG at `unixPath` by ImageMagick.
void Photograph(HWND window, const std::string& unixPath) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN);
    SendMessageW(window, WM_NULL, 0, 0);
    RECT r;
    GetWindowRect(window, &r);
    const std::string geometry = std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top) + "+" +
                                 std::to_string(r.left) + "+" + std::to_string(r.top);
    std::string windowsPath = "Z:" + unixPath;
    std::replace(windowsPath.begin(), windowsPath.end(), '/', '\\');
    DeleteFileA(windowsPath.c_str());
    EXPECT_TRUE(RunUnixProgram(
        "/bin/sh",
        {"-c", "/usr/bin/import -window root -crop \"$1\" +repage \"png:$2.part\" && mv \"$2.part\" \"$2\"", "sh",
         geometry, unixPath},
        windowsPath))
        << unixPath;
}

}  // namespace

// What runs wrote through the real window, its preview reads back: Japanese
// and characters beyond the code page, a line break shown as "¶", the old
// comment of a file replaced. With KES_PREVIEW_SHOT naming a PNG file (a
// Unix path), the preview is photographed there, as docs/preview.png shows
// it.
TEST(BundledE2E, ThePreviewShowsWhatRunsWrote) {
    // A music folder at a short path, so that the picture shows whole names.
    struct TMusic {
        const std::string Path = "C:\\音楽";
        TMusic() { RemoveTree(Path); }
        ~TMusic() { RemoveTree(Path); }
    } music;
    const std::wstring top = AnsiText(music.Path) + L"\\";
    const std::wstring live = top + L"ライブ 2024\\", cafe = top + L"Café 〜 Ryūichi\\";
    for (const std::wstring& folder : {top, live, cafe}) ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    PutFile(live + L"京都 ♡ 5月3日.mp3", Sample("plain.mp3"));
    PutFile(live + L"大阪 5月4日.mp3", Sample("v23.mp3"));
    PutFile(cafe + L"夜のピアノ.mp3", Sample("plain.mp3"));
    PutFile(cafe + L"朝のピアノ.mp3", Sample("v23.mp3"));
    PutFile(top + L"古い録音.mp3", Sample("plain.mp3"));
    PutFile(top + L"途中まで.mp3", Sample("v23.mp3").substr(0, 20));

    TBundledTool tool;
    ASSERT_TRUE(tool->Start());
    ChooseType(*tool, "*.mp3");
    // Nothing the picture's fonts lack (hangul): the first test reads back
    // those.
    const std::wstring liveComment = L"ライブ録音 ♡\r\n京都・大阪", cafeComment = L"Café 〜 Ryūichi ♡ 夜";
    for (const auto& [folder, comment] : {std::pair{live, liveComment}, std::pair{cafe, cafeComment}}) {
        tool->SetText(IDC_MEMO_COMMENT, comment);
        tool->SetText(IDC_EDIT_DIR, folder);
        tool->Click(IDC_BUTTON_START);  // returns when the run has ended
        EXPECT_EQ(tool->WideLogLines().back(), Res(IDS_LOG_COMPLETED));
    }
    tool->SetText(IDC_EDIT_DIR, top);
    tool->SetChecked(IDC_CHECKBOX_SUBDIR, true);
    tool->Menu(IDM_PREVIEW);  // returns when the preview has read every file
    ASSERT_NE(tool->PreviewWindow(), nullptr);
    const std::wstring write = Res(IDS_PREVIEW_WRITE);
    const std::map<std::wstring, std::vector<std::wstring>> expected = {
        {live + L"京都 ♡ 5月3日.mp3", {L"ライブ録音 ♡¶京都・大阪", write}},
        {live + L"大阪 5月4日.mp3", {L"ライブ録音 ♡¶京都・大阪", write}},
        {cafe + L"夜のピアノ.mp3", {cafeComment, write}},
        {cafe + L"朝のピアノ.mp3", {cafeComment, write}},
        {top + L"古い録音.mp3", {L"", write}},
        {top + L"途中まで.mp3", {L"", Res(IDS_PREVIEW_REFUSE) + L" (" + Res(IDS_REASON_REFUSED) + L")"}},
    };
    std::map<std::wstring, std::vector<std::wstring>> shown;
    for (const std::vector<std::wstring>& row : tool->PreviewRows())
        shown[row.at(0)] = std::vector<std::wstring>(row.begin() + 1, row.end());
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(Narrow(tool->PreviewText(IDC_PREVIEW_SUMMARY)),
              "ファイル 6 個のうち、コメントのあるもの 4 個、書き込めないもの 1 個");
    if (const char* shot = std::getenv("KES_PREVIEW_SHOT")) Photograph(tool->PreviewWindow(), shot);
    tool->PostMenu(IDM_EXIT);
    EXPECT_EQ(tool->WaitExit(), 0u);
}
