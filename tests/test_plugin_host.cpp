// The plug-in host against real plug-in DLLs: discovery, the library slot's
// loads and releases, and writing one file, as the probe log records them.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <set>

#include "Kes_bat_data.h"
#include "TestSupport.h"

using namespace kes_test;
using Lines = std::vector<std::string>;

namespace {

// The file names that a search of dir for "*.cpi" delivers, in its order.
Lines SearchOrder(const std::string& dir) {
    Lines names;
    for (const WIN32_FIND_DATAA& d : FolderEntries(dir, "*.cpi"))
        if (!(d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(d.cFileName);
    return names;
}

Lines Descriptions(const CKesBat& registry) {
    Lines out;
    for (int i = 0; i < registry.Count(); ++i) out.push_back(registry.GetDescription(i));
    return out;
}

bool IsLoaded(const std::string& fileName) { return GetModuleHandleA(fileName.c_str()) != nullptr; }

std::string WriteLine(HWND window, const std::string& path, const std::string& contents,
                      const std::string& comment) {
    return "probe.cpi WriteComment " + std::to_string(reinterpret_cast<UINT_PTR>(window)) + " " +
           Hex(path) + " ptr " + std::to_string(contents.size()) + " " + Hex(contents) + " " +
           Hex(comment) + " " + std::to_string(comment.size());
}

const Lines kDiscovery = {
    "probe.cpi load",
    "probe.cpi GetPluginInfo 0 64",
    "probe.cpi ConfigurationDlg 0 2",
    "probe.cpi GetPluginInfo 1 64",
    "probe.cpi GetPluginInfo 2 64",
    "probe.cpi GetPluginInfo 3 64",
    "probe.cpi ConfigurationDlg 0 2",
};

}  // namespace

TEST(Discovery, AcceptsExactlyTheUsableModulesInSearchOrder) {
    TempDir dir;
    const Lines accepted = {"probe", "caps1", "caps16", "caps2", "caps_second0", "tag_nul",
                            "no_write", "info64", "upper_patterns", "empty_desc"};
    const Lines refused = {"tag_lower", "tag_blank", "tag_result0", "no_info", "no_config", "caps0"};
    for (const auto& v : accepted) dir.CopyPlugin(v, v + ".cpi");
    for (const auto& v : refused) dir.CopyPlugin(v, v + ".cpi");
    // Neither a folder nor a file that is no DLL can be a plug-in.
    dir.MakeDir("folder.cpi");
    dir.MakeFile("text.cpi", "this is not a library");
    dir.CopyPlugin("probe", "probe.dll");  // wrong extension: never looked at

    CKesBat registry;
    ASSERT_TRUE(registry.ScanDirectory(AnsiPath(dir.Path()), AnsiText("*.cpi")));

    Lines expected;
    for (const auto& name : SearchOrder(dir.Path())) {
        std::string variant = name.substr(0, name.size() - 4);
        if (std::find(accepted.begin(), accepted.end(), variant) != accepted.end())
            expected.push_back(variant == "empty_desc" ? "" : variant);
    }
    EXPECT_EQ(Descriptions(registry), expected);
    // After the scan only the last candidate may still be held, and only if
    // it was accepted; every refused module has been released.
    for (const auto& v : refused) EXPECT_FALSE(IsLoaded(v + ".cpi")) << v;
}

TEST(Discovery, AFolderWithNothingUsableReportsFalse) {
    TempDir empty;
    CKesBat none;
    EXPECT_FALSE(none.ScanDirectory(AnsiPath(empty.Path()), AnsiText("*.cpi")));
    EXPECT_EQ(none.Count(), 0);

    TempDir refusedOnly;
    refusedOnly.CopyPlugin("tag_blank", "a.cpi");
    refusedOnly.CopyPlugin("caps0", "b.cpi");
    refusedOnly.MakeFile("c.cpi", "MZ but not really");
    // Found through its short name "D~1.CPI" alone: an old copy kept aside.
    refusedOnly.CopyPlugin("probe", "d.cpi_old");
    CKesBat registry;
    EXPECT_FALSE(registry.ScanDirectory(AnsiPath(refusedOnly.Path()), AnsiText("*.cpi")));
    EXPECT_EQ(registry.Count(), 0);
    EXPECT_FALSE(IsLoaded("a.cpi"));
    EXPECT_FALSE(IsLoaded("b.cpi"));
}

TEST(Discovery, EntriesCarryTheirTextsAndFlags) {
    TempDir dir;
    ProbeLog log;
    CKesBat registry;
    ASSERT_TRUE(registry.AddPlugin(AnsiPath(dir.CopyPlugin("probe", "probe.cpi"))));
    ASSERT_TRUE(registry.AddPlugin(AnsiPath(dir.CopyPlugin("upper_patterns", "upper.cpi"))));
    ASSERT_TRUE(registry.AddPlugin(AnsiPath(dir.CopyPlugin("caps_second0", "second0.cpi"))));
    ASSERT_TRUE(registry.AddPlugin(AnsiPath(dir.CopyPlugin("probe", "twin.cpi"))));
    ASSERT_EQ(registry.Count(), 4);

    EXPECT_EQ(registry.GetFlags(0), 17);  // passed through unchanged, not masked
    EXPECT_EQ(registry.GetPatterns(0), "*.txt");
    EXPECT_EQ(registry.GetPatterns(1), "*.txt;*.dat");  // lower-cased
    // The second capability answer is what is stored, even though the first
    // (17) let the module in.
    EXPECT_EQ(registry.GetFlags(2), 0);
    // Two modules with the same patterns are both listed, in order.
    EXPECT_EQ(registry.GetDescription(3), "probe");

    for (int bad : {-1, 4, INT_MIN}) {
        EXPECT_EQ(registry.GetPatterns(bad), "") << bad;
        EXPECT_EQ(registry.GetDescription(bad), "") << bad;
        EXPECT_EQ(registry.GetFlags(bad), 0) << bad;
    }
}

TEST(Discovery, CallsReachAPluginInTheDocumentedOrder) {
    TempDir dir;
    ProbeLog log;
    {
        dir.CopyPlugin("probe", "probe.cpi");
        CKesBat registry;
        ASSERT_TRUE(registry.ScanDirectory(AnsiPath(dir.Path()), AnsiText("*.cpi")));
        // Accepted and the last candidate: it stays loaded.
        EXPECT_EQ(log.Lines(), kDiscovery);
        EXPECT_TRUE(IsLoaded("probe.cpi"));
    }
    // The registry going away releases it.
    Lines expected = kDiscovery;
    expected.push_back("probe.cpi unload");
    EXPECT_EQ(log.Lines(), expected);
    EXPECT_FALSE(IsLoaded("probe.cpi"));
}

TEST(Discovery, ARefusedModuleIsReleasedAtOnce) {
    TempDir dir;
    ProbeLog log;
    CKesBat registry;
    EXPECT_FALSE(registry.AddPlugin(AnsiPath(dir.CopyPlugin("tag_lower", "probe.cpi"))));
    EXPECT_EQ(log.Lines(), (Lines{"probe.cpi load", "probe.cpi GetPluginInfo 0 64", "probe.cpi unload"}));
    log.Clear();
    EXPECT_FALSE(registry.AddPlugin(AnsiPath(dir.CopyPlugin("caps0", "caps0.cpi"))));
    EXPECT_EQ(log.Lines(), (Lines{"caps0.cpi load", "caps0.cpi GetPluginInfo 0 64",
                                  "caps0.cpi ConfigurationDlg 0 2", "caps0.cpi unload"}));
}

TEST(Slot, EveryLoadIsReleasedExactlyOnce) {
    TempDir dir;
    const std::string a = dir.CopyPlugin("probe", "a.cpi");
    const std::string b = dir.CopyPlugin("probe", "b.cpi");
    ProbeLog log;
    {
        CVornicDLL slot;
        EXPECT_FALSE(slot.Loaded());
        ASSERT_TRUE(slot.Load(AnsiPath(a)));
        slot.Unload();
        slot.Unload();  // a second Unload of an empty slot does nothing
        EXPECT_FALSE(slot.Loaded());

        // Loading the same module over itself releases it first.
        ASSERT_TRUE(slot.Load(AnsiPath(a)));
        ASSERT_TRUE(slot.Load(AnsiPath(a)));
        // Another module replaces it.
        ASSERT_TRUE(slot.Load(AnsiPath(b)));
        EXPECT_FALSE(IsLoaded("a.cpi"));
        // A load that fails still releases what was held, and leaves it empty.
        EXPECT_FALSE(slot.Load(AnsiPath(dir / "missing.cpi")));
        EXPECT_FALSE(slot.Loaded());
        EXPECT_FALSE(IsLoaded("b.cpi"));
        EXPECT_FALSE(slot.Load(AnsiPath("")));
        ASSERT_TRUE(slot.Load(AnsiPath(b)));
    }
    EXPECT_FALSE(IsLoaded("b.cpi"));  // destruction released the last one
    EXPECT_EQ(log.Lines(), (Lines{"a.cpi load", "a.cpi unload", "a.cpi load", "a.cpi unload",
                                  "a.cpi load", "a.cpi unload", "b.cpi load", "b.cpi unload",
                                  "b.cpi load", "b.cpi unload"}));
}

TEST(Slot, InfoTextsAndTags) {
    TempDir dir;
    CVornicDLL slot;

    ASSERT_TRUE(slot.Load(AnsiPath(dir.CopyPlugin("info64", "info64.cpi"))));
    ASSERT_TRUE(slot.BindGetPluginInfo());
    EXPECT_EQ(slot.GetInfo(InfoVersion), std::string(64, 'v'));
    EXPECT_EQ(slot.GetInfo(99), "");  // result 0: no text
    EXPECT_EQ(slot.BindConfigurationDlg(), 17);

    // A NUL ends the tag: what follows it does not count.
    ASSERT_TRUE(slot.Load(AnsiPath(dir.CopyPlugin("tag_nul", "tag_nul.cpi"))));
    EXPECT_TRUE(slot.BindGetPluginInfo());
    // The right text with result 0 is no text at all.
    ASSERT_TRUE(slot.Load(AnsiPath(dir.CopyPlugin("tag_result0", "tag_result0.cpi"))));
    EXPECT_FALSE(slot.BindGetPluginInfo());
    ASSERT_TRUE(slot.Load(AnsiPath(dir.CopyPlugin("tag_blank", "tag_blank.cpi"))));
    EXPECT_FALSE(slot.BindGetPluginInfo());
    ASSERT_TRUE(slot.Load(AnsiPath(dir.CopyPlugin("no_info", "no_info.cpi"))));
    EXPECT_FALSE(slot.BindGetPluginInfo());
    ASSERT_TRUE(slot.Load(AnsiPath(dir.CopyPlugin("no_config", "no_config.cpi"))));
    EXPECT_EQ(slot.BindConfigurationDlg(), 0);
    EXPECT_TRUE(slot.BindWriteComment());
}

TEST(Registry, PrepareWriteWithoutWriteCommentFailsAndUnloads) {
    TempDir dir;
    dir.CopyPlugin("no_write", "no_write.cpi");
    CKesBat registry;
    ASSERT_TRUE(registry.ScanDirectory(AnsiPath(dir.Path()), AnsiText("*.cpi")));
    ASSERT_TRUE(IsLoaded("no_write.cpi"));
    EXPECT_FALSE(registry.PrepareWrite(0));
    EXPECT_FALSE(IsLoaded("no_write.cpi"));
    // Indices outside the list are refused without loading anything.
    EXPECT_FALSE(registry.PrepareWrite(1));
    EXPECT_FALSE(registry.PrepareWrite(-1));
    EXPECT_FALSE(registry.ShowPluginDialog(nullptr, 5, ModeAbout));
}

TEST(Registry, DialogsThenWritingReloadTheModule) {
    TempDir dir;
    dir.CopyPlugin("probe", "probe.cpi");
    dir.CopyPlugin("dialog_fail", "zz_fail.cpi");
    ProbeLog log;
    CKesBat registry;
    ASSERT_TRUE(registry.ScanDirectory(AnsiPath(dir.Path()), AnsiText("*.cpi")));
    const int probe = registry.GetDescription(0) == "probe" ? 0 : 1;
    log.Clear();

    HWND window = GetDesktopWindow();
    const std::string w = std::to_string(reinterpret_cast<UINT_PTR>(window));
    EXPECT_TRUE(registry.ShowPluginDialog(window, probe, ModeSettings));
    EXPECT_TRUE(registry.ShowPluginDialog(window, probe, ModeAbout));
    const std::string file = dir.MakeFile("a.txt", "abc");
    ASSERT_TRUE(registry.PrepareWrite(probe));
    EXPECT_EQ(registry.WriteOneFile(window, AnsiPath(file), AnsiText("hi")), 0);
    registry.ReleasePlugin();
    EXPECT_FALSE(IsLoaded("probe.cpi"));

    Lines got = log.Lines();
    // Whatever discovery left loaded is released first.
    if (!got.empty() && got[0] == "zz_fail.cpi unload") got.erase(got.begin());
    EXPECT_EQ(got, (Lines{"probe.cpi load", "probe.cpi ConfigurationDlg 0 2",
                          "probe.cpi ConfigurationDlg " + w + " 1", "probe.cpi unload",
                          "probe.cpi load", "probe.cpi ConfigurationDlg 0 2",
                          "probe.cpi ConfigurationDlg " + w + " 0", "probe.cpi unload",
                          "probe.cpi load", WriteLine(window, file, "abc", "hi"),
                          "probe.cpi unload"}));

    // A dialog that reports failure makes the whole operation fail.
    EXPECT_FALSE(registry.ShowPluginDialog(window, 1 - probe, ModeAbout));
}

TEST(WriteOneFile, ThePluginGetsTheFileExactly) {
    TempDir dir;
    dir.CopyPlugin("probe", "probe.cpi");
    ProbeLog log;
    CKesBat registry;
    ASSERT_TRUE(registry.ScanDirectory(AnsiPath(dir.Path()), AnsiText("*.cpi")));
    ASSERT_TRUE(registry.PrepareWrite(0));
    log.Clear();

    std::string binary("\x00\x01\x5c\xff\r\n\x95\x5c", 8);
    for (int i = 0; i < 70000; ++i) binary += static_cast<char>(i * 7);
    const std::string big = dir.MakeFile("binary.dat", binary);
    const std::string empty = dir.MakeFile("empty.txt", "");
    // "表示" is two Shift_JIS characters: 4 bytes, the first trailing byte 0x5c.
    const std::string sjis = "\x95\x5c\x8e\xa6 comment";
    const std::string failing = dir.MakeFile("fail.txt", "FAIL here");

    EXPECT_EQ(registry.WriteOneFile(nullptr, AnsiPath(big), AnsiText("c")), 0);
    EXPECT_EQ(registry.WriteOneFile(nullptr, AnsiPath(empty), AnsiText(sjis)), 0);
    EXPECT_EQ(registry.WriteOneFile(nullptr, AnsiPath(empty), AnsiText("")), 0);
    EXPECT_EQ(registry.WriteOneFile(nullptr, AnsiPath(failing), AnsiText("c")), 7);  // the plug-in's result, unchanged
    EXPECT_EQ(log.Lines(), (Lines{WriteLine(nullptr, big, binary, "c"),
                                  WriteLine(nullptr, empty, "", sjis),
                                  WriteLine(nullptr, empty, "", ""),
                                  WriteLine(nullptr, failing, "FAIL here", "c")}));
    // The length counts bytes, as the code page's texts do: "表示" is four.
    EXPECT_EQ(log.Writes().at(1).Length, std::to_string(sjis.size()));
}

TEST(WriteOneFile, UnreadableFilesAndTextsBeyondTheCodePageNeverReachThePlugin) {
    TempDir dir;
    dir.CopyPlugin("probe", "probe.cpi");
    ProbeLog log;
    CKesBat registry;
    ASSERT_TRUE(registry.ScanDirectory(AnsiPath(dir.Path()), AnsiText("*.cpi")));
    ASSERT_TRUE(registry.PrepareWrite(0));
    log.Clear();

    EXPECT_EQ(registry.WriteOneFile(nullptr, AnsiPath(dir / "vanished.txt"), AnsiText("c")), ErrOpenRead);
    EXPECT_EQ(registry.WriteOneFile(nullptr, AnsiPath(dir.Path()), AnsiText("c")), ErrAccessDenied);  // a folder

    // Another program is writing the file: reading it now could hand the
    // plug-in a half-written state. It is waited for a moment, then told
    // as held.
    const std::string busy = dir.MakeFile("busy.txt", "being written");
    HANDLE writer = CreateFileA(busy.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(registry.WriteOneFile(nullptr, AnsiPath(busy), AnsiText("c")), ErrHeld);
    CloseHandle(writer);

    // Files beyond what a plug-in's signed size can say (sparse, so they
    // cost no disk): one byte over INT_MAX, and one that a 32-bit seek
    // would see as 10 bytes, so that the plug-in would write back a
    // truncated copy of it.
    const std::string huge = dir.MakeFile("huge.dat", "");
    for (LONGLONG size : {0x80000000LL, 0x100000000LL + 10}) {
        HANDLE h = CreateFileA(huge.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        LARGE_INTEGER at;
        at.QuadPart = size;
        ASSERT_TRUE(SetFilePointerEx(h, at, nullptr, FILE_BEGIN));
        ASSERT_TRUE(SetEndOfFile(h));
        CloseHandle(h);
        EXPECT_EQ(registry.WriteOneFile(nullptr, AnsiPath(huge), AnsiText("c")), ErrNoMemory) << size;
    }

    // A comment or a name that the code page cannot hold exactly would
    // reach the plug-in as "?" or a look-alike.
    const std::string plain = dir.MakeFile("plain.txt", "ok");
    for (const std::wstring& comment : {std::wstring(L"caf\u00e9"), std::wstring(L"\u2661"), std::wstring(L"x\xD800")})
        EXPECT_EQ(registry.WriteOneFile(nullptr, AnsiPath(plain), comment), ErrNotInCodePage);
    EXPECT_EQ(registry.WriteOneFile(nullptr, TFilePath(AnsiText(dir / "caf") + L"\u00e9.txt"), AnsiText("c")),
              ErrNotInCodePage);

    EXPECT_EQ(log.Lines(), Lines{});
    // The tool's own handle is closed on every path: the file can be removed.
    EXPECT_TRUE(DeleteFileA(busy.c_str()));
    EXPECT_TRUE(DeleteFileA(huge.c_str()));
}

namespace {

// The log's lines of one kind of call, e.g. "ReleasePlanW".
Lines CallsOf(const ProbeLog& log, const std::string& call) {
    Lines found;
    for (const std::string& line : log.Lines()) {
        const size_t at = line.find(' ');
        if (line.compare(at + 1, call.size() + 1, call + " ") == 0) found.push_back(line.substr(at + 1));
    }
    return found;
}

std::string Joined(const TFilePlan& plan) {
    std::string out;
    for (std::string_view piece : plan.Pieces()) out.append(piece);
    return out;
}

// The planning test plug-in prepared for a run, its calls in the log.
class PlanningPlugIn : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(registry.AddPlugin(AnsiPath(dir.CopyPlugin("plan_rw", "plan_rw.cpi"))));
        ASSERT_TRUE(registry.PrepareWrite(0));
    }
    TempDir dir;
    ProbeLog log;
    CKesBat registry;
};

}  // namespace

// Planning takes all three plan exports besides WriteCommentW and
// ReadCommentW; a plug-in with only some of them is called exactly as one
// without any: neither the plan nor the byte reader is ever reached.
TEST(Plans, OnlyAPlugInWithEverythingPlanningTakesIsAskedForPlans) {
    const struct {
        const char* variant;
        bool plans, reads;
    } cases[] = {{"plan_rw", true, true},
                 {"plan_norelease", false, true},
                 {"plan_noread", false, false},
                 {"plan_nowrite", false, false},
                 {"probe_rw", false, true}};
    TempDir dir;
    ProbeLog log;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.variant);
        const std::string name = std::string(c.variant) + ".cpi";
        CKesBat registry;
        ASSERT_TRUE(registry.AddPlugin(AnsiPath(dir.CopyPlugin(c.variant, name))));
        EXPECT_EQ(registry.CanPlan(0), c.plans);
        EXPECT_EQ(registry.PrepareRead(0), c.reads);
        EXPECT_EQ(registry.PreparedPlans(), c.plans);
        registry.ReleasePlugin();
        log.Clear();
        ASSERT_TRUE(registry.PrepareWrite(0));
        EXPECT_EQ(registry.PreparedPlans(), c.plans);
        if (c.plans) continue;
        TFilePlan plan;
        std::optional<std::wstring> comment = L"untouched";
        EXPECT_EQ(registry.PlanFile(AnsiPath(dir / "a.txt"), Ktf(L"old"), L"new", plan), CpiUnexpected);
        EXPECT_EQ(registry.ReadBytes(Ktf(L"old"), comment), CpiUnexpected);
        EXPECT_EQ(comment, L"untouched");
        registry.ReleasePlugin();
        EXPECT_EQ(log.Lines(), (Lines{name + " load", name + " unload"}));
    }
}

TEST_F(PlanningPlugIn, APlanGivesItsPiecesAndIsGivenBackOnceWhenItGoes) {
    const TFilePath path = AnsiPath(dir / "\x95\x5c.ktf");
    const std::string old = Ktf(L"old"), same = Ktf(L"same"), keep = "TIME and other bytes";
    const std::wstring heart = L"new ♡";
    const struct {
        const std::string& contents;
        std::wstring comment;
        bool unchanged, keepTime;
    } cases[] = {{old, heart, false, false}, {same, L"same", true, false}, {keep, L"kept", false, true},
                 {old, L"", false, false}};
    std::vector<TFilePlan> plans;
    for (const auto& c : cases) {
        TFilePlan plan;
        ASSERT_EQ(registry.PlanFile(path, c.contents, c.comment, plan), CpiWritten);
        EXPECT_EQ(Joined(plan), Ktf(c.comment));
        EXPECT_EQ(plan.Size(), Ktf(c.comment).size());
        EXPECT_EQ(plan.Unchanged(), c.unchanged);
        EXPECT_EQ(plan.KeepTime(), c.keepTime);
        plans.push_back(std::move(plan));
    }
    // A file in the form already: its frame is taken from the contents
    // handed over, by reference.
    EXPECT_EQ(plans[0].Pieces().front().data(), old.data());
    EXPECT_EQ(plans[0].Pieces().back().data(), old.data() + old.size() - 4);
    // An empty comment gives no piece for it.
    EXPECT_EQ(plans[3].Pieces().size(), 2u);
    EXPECT_EQ(CallsOf(log, "PlanCommentW").front(), "PlanCommentW 1 " + WideHex(path.Win32()) + " " +
                                                        std::to_string(old.size()) + " " + Hex(old) + " " +
                                                        WideHex(heart) + " 5");
    EXPECT_EQ(CallsOf(log, "ReleasePlanW"), Lines{});  // moved, never given back twice or early

    // Planning into a plan given back the one it held; a refusal holds
    // nothing to give back.
    EXPECT_EQ(registry.PlanFile(path, "FAIL", L"x", plans[1]), CpiCommentNotHeld);
    EXPECT_TRUE(plans[1].Pieces().empty());
    plans.erase(plans.begin() + 2);
    EXPECT_EQ(CallsOf(log, "ReleasePlanW"), (Lines{"ReleasePlanW 2", "ReleasePlanW 3"}));
    plans.resize(1);
    EXPECT_EQ(CallsOf(log, "ReleasePlanW"), (Lines{"ReleasePlanW 2", "ReleasePlanW 3", "ReleasePlanW 4"}));
    // A plan kept past its module's release is not handed to what the slot
    // holds later, even the same plug-in loaded again.
    registry.ReleasePlugin();
    ASSERT_TRUE(registry.PrepareWrite(0));
    plans.clear();
    EXPECT_EQ(CallsOf(log, "ReleasePlanW").size(), 3u);
}

// The tool writes whatever a plan spells into the user's file: a plan
// whose pieces would read outside the contents or outside memory, or make
// a file larger than the interface measures, is refused as a failure of the
// plug-in, and given back at once.
TEST_F(PlanningPlugIn, APlanThatDoesNotHoldTogetherIsRefusedAndGivenBack) {
    int number = 0;
    for (const char* contents : {"BADP past the end", "BADW wrapping", "BADN", "BADB", "BADT"}) {
        SCOPED_TRACE(contents);
        TFilePlan plan;
        EXPECT_EQ(registry.PlanFile(AnsiPath(dir / "a.ktf"), contents, L"comment", plan), CpiUnexpected);
        EXPECT_TRUE(plan.Pieces().empty());
        EXPECT_EQ(CallsOf(log, "ReleasePlanW").back(), "ReleasePlanW " + std::to_string(++number));
    }
    EXPECT_EQ(CallsOf(log, "ReleasePlanW").size(), 5u);
}

TEST_F(PlanningPlugIn, ReadBytesAnswersFromTheBytesAloneThroughTheSameBufferProtocol) {
    const std::wstring longer(300, L'é');  // past the first buffer of 256
    const struct {
        std::string contents;
        int result;
        std::optional<std::wstring> comment;
    } cases[] = {{Ktf(L"a comment\r\n♡"), CpiWritten, L"a comment\r\n♡"},
                 {Ktf(L""), CpiWritten, std::nullopt},
                 {Ktf(longer), CpiWritten, longer},
                 {"no file of its type", CpiRefused, L"untouched"}};
    for (const auto& c : cases) {
        std::optional<std::wstring> comment = L"untouched";
        EXPECT_EQ(registry.ReadBytes(c.contents, comment), c.result);
        EXPECT_EQ(comment, c.comment);
    }
    const std::string asked = "ReadCommentBytesW " + std::to_string(Ktf(longer).size()) + " " + Hex(Ktf(longer));
    EXPECT_EQ(CallsOf(log, "ReadCommentBytesW")[2], asked + " 256");
    EXPECT_EQ(CallsOf(log, "ReadCommentBytesW")[3], asked + " 301");
    EXPECT_EQ(CallsOf(log, "ReadCommentW"), Lines{});  // no file is looked at
}

// The sdk's sample shows plug-in authors how to plan: its plan spells what
// its own write leaves, and a file that would not change plans as itself.
TEST(Plans, TheSdkSamplePlansWhatItsWriteLeaves) {
    TempDir dir;
    CKesBat registry;
    ASSERT_TRUE(registry.AddPlugin(AnsiPath(dir.CopyPlugin("sample", "sample.cpi"))));
    ASSERT_TRUE(registry.CanPlan(0));
    ASSERT_TRUE(registry.PrepareWrite(0));
    const std::wstring japanese = L"見本のコメント\r\n二行目", unicode = L"Café ♡ \U0001D11E";
    for (const std::wstring& comment : {japanese, unicode, std::wstring()}) {
        const std::string file = dir.MakeFile("note.kcm", "old comment");
        TFilePlan plan;
        ASSERT_EQ(registry.PlanFile(AnsiPath(file), "old comment", comment, plan), CpiWritten);
        ASSERT_EQ(registry.WriteOneFile(nullptr, AnsiPath(file), comment), CpiWritten);
        const std::string written = ReadFileBytes(file);
        EXPECT_EQ(Joined(plan), written);
        EXPECT_FALSE(plan.Unchanged());
        std::optional<std::wstring> read;
        EXPECT_EQ(registry.ReadBytes(written, read), CpiWritten);
        EXPECT_EQ(read.value_or(L"(none)"), comment.empty() ? L"(none)" : comment);
        ASSERT_EQ(registry.PlanFile(AnsiPath(file), written, comment, plan), CpiWritten);
        EXPECT_TRUE(plan.Unchanged());
    }
    TFilePlan plan;
    EXPECT_EQ(registry.PlanFile(AnsiPath(dir / "a.kcm"), "", std::wstring(1, wchar_t(0xDC00)), plan),
              CpiCommentNotHeld);
}
