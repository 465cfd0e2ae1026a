// The release package as a user unpacks it (made, checked and unpacked by
// package/unpack_package.sh, which also builds sdk/'s sample plug-in into
// it): the version blocks of the shipped files, what the manifest gives the
// running program, and a plug-in built from the sdk folder at work, through
// its exports and through the window.
#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "KesDriver.h"
#include "PluginModule.h"
#include "TestSupport.h"
#include "UnicodeFiles.h"
#include "kes_bat_ids.h"
#include "kes_version.h"

using namespace kes_test;

namespace {

const char kSample[] = "sample.cpi";

std::string PackageDir() {
    std::string dir = ExeDir() + KES_PACKAGE_DIR;
    std::replace(dir.begin(), dir.end(), '/', '\\');
    return dir;
}

struct TTranslation {
    WORD Language;
    WORD CodePage;
};

// A file's version information, read as Explorer's Details page reads it.
class TVersionInfo {
public:
    explicit TVersionInfo(const std::string& path) {
        DWORD unused = 0;
        data_.resize(GetFileVersionInfoSizeA(path.c_str(), &unused));
        if (!data_.empty() && !GetFileVersionInfoA(path.c_str(), 0, static_cast<DWORD>(data_.size()), data_.data()))
            data_.clear();
    }
    // The value under `key` (e.g. "\\"), or null.
    template <class T>
    const T* Value(const std::string& key) const {
        void* value = nullptr;
        UINT length = 0;
        if (data_.empty() || !VerQueryValueA(data_.data(), key.c_str(), &value, &length) || length < sizeof(T))
            return nullptr;
        return static_cast<const T*>(value);
    }
    // A text of the Japanese block, "(none)" when it is missing.
    std::string Text(const std::string& name) const {
        const char* text = Value<char>("\\StringFileInfo\\041103A4\\" + name);
        return text ? text : "(none)";
    }

private:
    std::vector<char> data_;
};

}  // namespace

TEST(Package, EveryShippedFileCarriesTheReleasesJapaneseVersionBlock) {
    std::vector<std::string> files{"kes_bat.exe"};
    for (const WIN32_FIND_DATAA& entry : FolderEntries(PackageDir(), "*.cpi"))
        if (lstrcmpiA(entry.cFileName, kSample) != 0) files.push_back(entry.cFileName);
    ASSERT_GT(files.size(), 1u);

    const DWORD version = MAKELONG(KES_VERSION_MINOR, KES_VERSION_MAJOR);
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        const TVersionInfo info(PackageDir() + file);
        const TTranslation* translation = info.Value<TTranslation>("\\VarFileInfo\\Translation");
        ASSERT_NE(translation, nullptr);
        EXPECT_EQ(translation->Language, 0x0411);
        EXPECT_EQ(translation->CodePage, 932);
        const VS_FIXEDFILEINFO* fixed = info.Value<VS_FIXEDFILEINFO>("\\");
        ASSERT_NE(fixed, nullptr);
        EXPECT_EQ(fixed->dwFileVersionMS, version);
        EXPECT_EQ(fixed->dwProductVersionMS, version);
        EXPECT_EQ(info.Text("FileVersion"), KES_VERSION);
        EXPECT_EQ(info.Text("ProductVersion"), KES_VERSION);
        EXPECT_EQ(info.Text("ProductName"), "Kestrane 超簡易バッチ処理ツール");
        EXPECT_EQ(info.Text("CompanyName"), "Kestrane Project");
        EXPECT_EQ(info.Text("LegalCopyright"), "Copyright (C) 2000 Kestrane Project");
        EXPECT_EQ(info.Text("OriginalFilename"), file);
        if (file == "kes_bat.exe") {
            EXPECT_EQ(info.Text("FileDescription"), "Kestrane 超簡易バッチ処理ツール");
            EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
        } else {
            // Names the file type the plug-in gives the tool.
            const CPluginModule plugin(PackageDir() + file);
            ASSERT_TRUE(plugin.Loaded());
            const std::string type = plugin.Info(InfoDescription);
            ASSERT_FALSE(type.empty());
            EXPECT_EQ(info.Text("FileDescription").find(type), 0u) << info.Text("FileDescription");
            EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
        }
    }
}

TEST(Package, TheProgramRunsWithCommonControls6AsInvokerAndKnowsWindows7To11) {
    // The manifest as the system reads it.
    ACTCTXA request{};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    const std::string exe = PackageDir() + "kes_bat.exe";
    request.lpSource = exe.c_str();
    request.lpResourceName = CREATEPROCESS_MANIFEST_RESOURCE_ID;
    const std::unique_ptr<void, decltype(&ReleaseActCtx)> context(CreateActCtxA(&request), &ReleaseActCtx);
    ASSERT_NE(context.get(), INVALID_HANDLE_VALUE);

    ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION level{};
    ASSERT_TRUE(QueryActCtxW(0, context.get(), nullptr, RunlevelInformationInActivationContext, &level,
                             sizeof level, nullptr));
    EXPECT_EQ(level.RunLevel, ACTCTX_RUN_LEVEL_AS_INVOKER);
    EXPECT_EQ(level.UiAccess, 0u);

    // The element layout differs between system versions; each id is found
    // among the bytes.
    std::vector<BYTE> compatibility(1024);
    SIZE_T size = 0;
    ASSERT_TRUE(QueryActCtxW(0, context.get(), nullptr, CompatibilityInformationInActivationContext,
                             compatibility.data(), compatibility.size(), &size));
    compatibility.resize(size);
    EXPECT_EQ(reinterpret_cast<const ACTIVATION_CONTEXT_COMPATIBILITY_INFORMATION*>(compatibility.data())->ElementCount,
              4u);
    const GUID windows7To11[] = {
        {0x35138b9a, 0x5d96, 0x4fbd, {0x8e, 0x2d, 0xa2, 0x44, 0x02, 0x25, 0xf9, 0x3a}},  // 7
        {0x4a2f28e3, 0x53b9, 0x4441, {0xba, 0x9c, 0xd6, 0x9d, 0x4a, 0x4a, 0x6e, 0x38}},  // 8
        {0x1f676c76, 0x80e1, 0x4239, {0x95, 0xbb, 0x83, 0xd0, 0xf6, 0xd0, 0xda, 0x78}},  // 8.1
        {0x8e0f7a12, 0xbfb3, 0x4fe8, {0xb9, 0xa5, 0x48, 0xfd, 0x50, 0xa1, 0x5a, 0x9a}},  // 10 and 11
    };
    for (const GUID& os : windows7To11) {
        const BYTE* id = reinterpret_cast<const BYTE*>(&os);
        EXPECT_NE(std::search(compatibility.begin(), compatibility.end(), id, id + sizeof os), compatibility.end())
            << std::hex << os.Data1;
    }

    // The running program draws its controls with common controls 6, which
    // the system loads from its side-by-side store.
    TKesDriver tool(PackageDir());
    ASSERT_TRUE(tool.Start());
    HMODULE modules[256];
    DWORD bytes = 0;
    ASSERT_TRUE(EnumProcessModules(tool.Process(), modules, sizeof modules, &bytes));
    bool commonControls6 = false;
    for (DWORD i = 0; i < bytes / sizeof(HMODULE) && i < 256; ++i) {
        char path[MAX_PATH] = "";
        GetModuleFileNameExA(tool.Process(), modules[i], path, MAX_PATH);
        CharLowerA(path);
        commonControls6 |= std::strstr(path, "\\x86_microsoft.windows.common-controls_6595b64144ccf1df_6.0.") != nullptr;
    }
    EXPECT_TRUE(commonControls6);
    tool.PostMenu(IDM_EXIT);
    EXPECT_EQ(tool.WaitExit(), 0u);
}

TEST(Package, APluginBuiltFromTheSdkIsListedAndWritesThroughTheWindow) {
    TempDir target;
    target.MakeFile("note.kcm", "old comment");
    target.MakeFile("kept.kcm", "read-only");
    target.MakeFile("other.txt", "not matched");
    ASSERT_TRUE(SetFileAttributesA((target / "kept.kcm").c_str(), FILE_ATTRIBUTE_READONLY));

    TKesDriver tool(PackageDir());
    ASSERT_TRUE(tool.Start());
    // Every plug-in of the folder is usable, the sample among them.
    const std::vector<std::string> items = tool.ComboItems();
    EXPECT_EQ(items.size(), FolderEntries(PackageDir(), "*.cpi").size());
    const auto sample = std::find(items.begin(), items.end(), "サンプル形式 (*.kcm)");
    ASSERT_NE(sample, items.end());
    tool.ChooseCombo(static_cast<int>(sample - items.begin()));
    EXPECT_TRUE(tool.IsEnabled(IDC_BUTTON_ABOUT));
    EXPECT_FALSE(tool.IsEnabled(IDC_BUTTON_SETTING));

    const std::string comment = "見本のコメント\r\n二行目";
    tool.SetText(IDC_MEMO_COMMENT, comment);
    tool.SetText(IDC_EDIT_DIR, target.Path());
    tool.Click(IDC_BUTTON_START);  // returns when the run has ended
    EXPECT_EQ(ReadFileBytes(target / "note.kcm"), comment);
    EXPECT_EQ(ReadFileBytes(target / "kept.kcm"), "read-only");
    EXPECT_EQ(ReadFileBytes(target / "other.txt"), "not matched");
    EXPECT_EQ(FolderEntries(target.Path()).size(), 3u);  // no temporary file left behind
    EXPECT_EQ(tool.LogLines(),
              (std::vector<std::string>{"2個のファイルを処理します。(ESCで中止)",
                                        "Error : " + target / "kept.kcm" + " (読み取り専用です)",
                                        "コメントの書き込みが完了しました。",
                                        "1個のファイルでエラーが起きました。確認して下さい。"}));
    tool.PostMenu(IDM_EXIT);
    EXPECT_EQ(tool.WaitExit(), 0u);
}

TEST(Package, APluginBuiltFromTheSdkWritesAndReadsAnyTextThroughItsUnicodeExports) {
    const CPluginModule sample(PackageDir() + kSample);
    ASSERT_TRUE(sample.Loaded());
    ASSERT_TRUE(sample.Unicode());
    const CUnicodeDir dir;
    const std::wstring folder = L"見本 ♡ é\\";
    const std::wstring target = dir.Make(folder + L"note.kcm");
    PutFile(target, "old comment");
    std::wstring read;
    EXPECT_EQ(sample.ReadW(target, "old comment", read), CpiWritten);
    EXPECT_EQ(read, L"old comment");

    // What Shift_JIS holds is written as WriteComment writes it; anything
    // else in UTF-8 behind its byte-order mark. Each reads back as written.
    const std::wstring japanese = L"見本のコメント\r\n二行目", unicode = L"Café ♡ 한국어\r\n\U0001D11E";
    const struct {
        std::wstring comment;
        std::string bytes;
    } writes[] = {{japanese, "見本のコメント\r\n二行目"},
                  {unicode, "\xEF\xBB\xBF" "Caf\xC3\xA9 \xE2\x99\xA1 \xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4\r\n\xF0\x9D\x84\x9E"},
                  {L"", ""}};
    for (const auto& w : writes) {
        EXPECT_EQ(sample.WriteW(target, GetFile(target), w.comment), CpiWritten);
        EXPECT_EQ(GetFile(target), w.bytes);
        EXPECT_EQ(sample.ReadW(target, GetFile(target), read), CpiWritten);
        EXPECT_EQ(read, w.comment.empty() ? L"(none)" : w.comment);
    }
    TempDir ansi;
    const std::string viaAnsi = ansi.MakeFile("note.kcm", "old comment");
    EXPECT_EQ(sample.Write(viaAnsi, "old comment", "見本のコメント\r\n二行目"), CpiWritten);
    EXPECT_EQ(ReadFileBytes(viaAnsi), "見本のコメント\r\n二行目");

    // A lone surrogate is no text; a read-only file is refused by both.
    EXPECT_EQ(sample.WriteW(target, "", std::wstring(1, wchar_t(0xDC00))), CpiCommentNotHeld);
    ASSERT_TRUE(SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(sample.WriteW(target, "", japanese), CpiReadOnly);
    EXPECT_EQ(sample.ReadW(target, "", read), CpiReadOnly);
    EXPECT_EQ(GetFile(target), "");
    EXPECT_EQ(NamesIn(dir.Path() + folder), std::vector<std::wstring>{L"note.kcm"});
}
