// The shipped plug-ins as the tool loads them: their answers, their dialogs,
// and the safe rewrite of the target. Each test loads a copy from a fresh
// folder, so that the settings file it writes stays there.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <thread>

#include "PluginModule.h"
#include "kes_bundled.h"
#include "TestSupport.h"
#include "UnicodeFiles.h"
#include "kes_version.h"

using kes_test::ReadFileBytes;
using kes_test::Sample;
using kes_test::TempDir;

namespace {

// Each bundled plug-in, the form its format keeps a comment in, and a
// sample of its type with an old comment, made by the format's own tools
// (make_samples.sh) before this test runs.
struct TBundled {
    const char* name;
    bool codePage;  // the comment as code page 932 bytes, not in Unicode
    const char* sample;
    const wchar_t* oldComment;  // the sample's, as the tool would hand it to a write
};
const TBundled kBundled[] = {
    {"kes_zip", true, "commented.zip", L"old comment"},
    {"kes_jpeg", true, "commented.jpg", L"old comment"},
    {"kes_png", false, "commented.png", L"old comment"},
    {"kes_gif", true, "commented.gif", L"old comment"},
    {"kes_mp3", false, "v23.mp3", L"old comment"},
    // Two COMMENT fields, in two cases of the name.
    {"kes_flac", false, "commented.flac", L"old comment\r\nsecond old one"},
    {"kes_ogg", false, "commented.ogg", L"old comment\r\nsecond old one"},
    // mutagen's comment frame, read before ffmpeg's ICMT item ("old comment").
    {"kes_wav", false, "tagged.wav", L"id3 comment"},
    {"kes_m4a", false, "commented.m4a", L"old comment"},
};

// Every plug-in that ships has its line above, and no other.
TEST(BundledPlugins, EveryShippedPluginIsCoveredHere) {
    std::vector<std::string> shipped, covered;
    for (const TBundledPlugin& p : kBundledPlugins) shipped.push_back(p.FileName);
    for (const TBundled& b : kBundled) covered.push_back(std::string(b.name) + ".cpi");
    std::sort(shipped.begin(), shipped.end());
    std::sort(covered.begin(), covered.end());
    EXPECT_EQ(covered, shipped);
}

// The smallest intact archive: an end record and nothing else.
const std::string kEmptyZip = std::string("PK\x05\x06", 4) + std::string(18, '\0');

std::string ZipWithComment(const std::string& comment) {
    std::string zip = kEmptyZip;
    zip[20] = static_cast<char>(comment.size() & 0xFF);
    zip[21] = static_cast<char>(comment.size() >> 8);
    return zip + comment;
}

std::string CopyBundled(const TempDir& dir, const std::string& name) {
    const std::string from = kes_test::ExeDir() + KES_BUNDLED_DIR + name + ".cpi";
    const std::string to = dir / (name + ".cpi");
    EXPECT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE)) << from;
    return to;
}

// Everything in the folder but the plug-in and its settings file.
std::vector<std::string> OtherFiles(const TempDir& dir) {
    std::vector<std::string> names;
    for (const WIN32_FIND_DATAA& d : kes_test::FolderEntries(dir.Path())) {
        const std::string name = d.cFileName;
        if (name.find(".cpi") == std::string::npos && name.find(".ini") == std::string::npos)
            names.push_back(name);
    }
    return names;
}

FILETIME Modified(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    EXPECT_TRUE(GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data));
    return data.ftLastWriteTime;
}

void SetModified(const std::string& path, const FILETIME& time) {
    HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &time));
    CloseHandle(h);
}

FILETIME LongAgo() {
    SYSTEMTIME t{2001, 2, 0, 3, 4, 5, 6, 0};
    FILETIME f;
    SystemTimeToFileTime(&t, &f);
    return f;
}

bool SameTime(const FILETIME& a, const FILETIME& b) { return CompareFileTime(&a, &b) == 0; }

std::wstring FromShiftJis(const std::string& s) {
    wchar_t wide[64] = L"";
    MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, s.c_str(), -1, wide, 64);
    return wide;
}

}  // namespace

TEST(BundledPlugins, AnswerTheirTagPatternsAndJapaneseDescriptions) {
    ASSERT_EQ(GetACP(), 932u) << "Wine must run under a Japanese locale";
    const char* const patterns[] = {"*.zip", "*.jpg;*.jpeg;*.jpe;*.jfif", "*.png", "*.gif",
                                    "*.mp3", "*.flac", "*.ogg;*.oga;*.opus", "*.wav",
                                    "*.m4a;*.m4b;*.mp4;*.m4v"};
    const wchar_t* const descriptions[] = {L"ZIP書庫", L"JPEG画像", L"PNG画像", L"GIF画像",
                                           L"MP3音声", L"FLAC音声", L"Ogg Vorbis/Opus音声", L"WAV音声",
                                           L"M4A/MP4音声・動画"};
    static_assert(std::size(patterns) == std::size(kBundled) && std::size(descriptions) == std::size(kBundled));
    TempDir dir;
    for (size_t i = 0; i < std::size(kBundled); ++i) {
        SCOPED_TRACE(kBundled[i].name);
        const CPluginModule plugin(CopyBundled(dir, kBundled[i].name));
        ASSERT_TRUE(plugin.Loaded());
        EXPECT_EQ(plugin.Info(InfoTag), "CPI1");
        // Its name, then the release's one version number.
        const std::string version = plugin.Info(InfoVersion);
        EXPECT_EQ(version.substr(0, 9), "Kestrane ");
        EXPECT_EQ(version.substr(version.size() - std::strlen(" " KES_VERSION)), " " KES_VERSION);
        EXPECT_EQ(plugin.Info(InfoPatterns), patterns[i]);
        EXPECT_EQ(FromShiftJis(plugin.Info(InfoDescription)), descriptions[i]);
        EXPECT_EQ(plugin.Info(4), "");
        EXPECT_EQ(plugin.Info(InfoTag, 3), "CP");  // cut to the buffer, still NUL-ended
        EXPECT_EQ(plugin.Configure(nullptr, ModeQuery), CapAbout | CapSettings);
        EXPECT_TRUE(plugin.Unicode());
    }
}

TEST(BundledPlugins, AReadOnlyOrForeignTargetIsRefusedAndLeftAsItWas) {
    TempDir dir;
    const CPluginModule zip(CopyBundled(dir, "kes_zip"));
    ASSERT_TRUE(zip.Loaded());
    const std::string target = dir.MakeFile("a.zip", kEmptyZip);
    SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_NE(zip.Write(target, kEmptyZip, "comment"), 0);
    EXPECT_EQ(ReadFileBytes(target), kEmptyZip);

    const std::string text = dir.MakeFile("text.zip", "not an archive\r\n");
    EXPECT_NE(zip.Write(text, "not an archive\r\n", "comment"), 0);
    EXPECT_EQ(ReadFileBytes(text), "not an archive\r\n");
    EXPECT_EQ(OtherFiles(dir), (std::vector<std::string>{"a.zip", "text.zip"}));
}

TEST(BundledPlugins, JapaneseNamesWhoseSecondByteIs5CAreWritten) {
    TempDir dir;
    const CPluginModule zip(CopyBundled(dir, "kes_zip"));
    ASSERT_TRUE(zip.Loaded());
    // "ソ\表.zip": both characters end in the byte 0x5C, which is no '\'.
    const std::string target = dir.MakeFile("\x83\x5c\\\x95\x5c.zip", kEmptyZip);
    EXPECT_EQ(zip.Write(target, kEmptyZip, "\x95\x5c comment"), 0);
    EXPECT_EQ(ReadFileBytes(target), ZipWithComment("\x95\x5c comment"));
    // The temporary file went into that folder and is gone again.
    std::vector<std::string> names;
    for (const WIN32_FIND_DATAA& d : kes_test::FolderEntries(dir / "\x83\x5c\\")) names.push_back(d.cFileName);
    EXPECT_EQ(names, std::vector<std::string>{"\x95\x5c.zip"});
}

TEST(BundledPlugins, ATargetHeldOpenElsewhereIsLeftIntactWithNoTemporaryFile) {
    TempDir dir;
    const CPluginModule zip(CopyBundled(dir, "kes_zip"));
    ASSERT_TRUE(zip.Loaded());
    const std::string target = dir.MakeFile("held.zip", kEmptyZip);
    for (DWORD share :
         {DWORD{0}, DWORD{FILE_SHARE_READ}, DWORD{FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE}}) {
        SCOPED_TRACE(share);
        HANDLE held = CreateFileA(target.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        EXPECT_NE(zip.Write(target, kEmptyZip, "comment"), 0);
        CloseHandle(held);
        EXPECT_EQ(ReadFileBytes(target), kEmptyZip);
        EXPECT_EQ(OtherFiles(dir), std::vector<std::string>{"held.zip"});
    }
    // Once it is free, the same call goes through.
    EXPECT_EQ(zip.Write(target, kEmptyZip, "comment"), 0);
    EXPECT_EQ(ReadFileBytes(target), ZipWithComment("comment"));
}

TEST(BundledPlugins, TheModificationTimeAndAttributesAreKeptUnlessTheSettingSaysOtherwise) {
    TempDir dir;
    const std::string path = CopyBundled(dir, "kes_zip");
    const std::string ini = path.substr(0, path.size() - 4) + ".ini";
    const std::string target = dir.MakeFile("kept.zip", kEmptyZip);
    SetModified(target, LongAgo());
    SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
    {
        const CPluginModule zip(path);
        ASSERT_TRUE(zip.Loaded());
        ASSERT_EQ(zip.Write(target, kEmptyZip, "one"), 0);
        EXPECT_EQ(ReadFileBytes(target), ZipWithComment("one"));
        EXPECT_TRUE(SameTime(Modified(target), LongAgo()));
        EXPECT_EQ(GetFileAttributesA(target.c_str()), DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE});
        // The setting is read once per load, and a run loads the plug-in once.
        ASSERT_TRUE(WritePrivateProfileStringA("Settings", "KeepModifiedTime", "0", ini.c_str()));
        ASSERT_EQ(zip.Write(target, ZipWithComment("one"), "two"), 0);
        EXPECT_TRUE(SameTime(Modified(target), LongAgo()));
    }
    const CPluginModule zip(path);  // the next run
    FILETIME before;
    GetSystemTimeAsFileTime(&before);
    before.dwHighDateTime -= 1;  // some 7 minutes of slack for the file system's coarser clock
    ASSERT_EQ(zip.Write(target, ZipWithComment("two"), "three"), 0);
    EXPECT_EQ(ReadFileBytes(target), ZipWithComment("three"));
    const FILETIME written = Modified(target);
    EXPECT_GT(CompareFileTime(&written, &before), 0) << "not the time of the write";
    EXPECT_EQ(GetFileAttributesA(target.c_str()), DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE});
    EXPECT_EQ(OtherFiles(dir), std::vector<std::string>{"kept.zip"});
}

namespace {

// Memory from VirtualAlloc: committed, but taking no room until touched.
class CPages {
public:
    explicit CPages(size_t size)
        : data_(static_cast<char*>(VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))) {}
    CPages(const CPages&) = delete;
    CPages& operator=(const CPages&) = delete;
    ~CPages() {
        if (data_ != nullptr) VirtualFree(data_, 0, MEM_RELEASE);
    }
    char* Data() const { return data_; }

private:
    char* data_;
};

// Another program's save, landing while the plug-in is at work on the file:
// when the plug-in first reads the contents it was handed, whose page is a
// guard page, this handler saves the file.
std::string savedPath, savedBytes;
LONG CALLBACK SaveMeanwhile(EXCEPTION_POINTERS* e) {
    if (e->ExceptionRecord->ExceptionCode != STATUS_GUARD_PAGE_VIOLATION) return EXCEPTION_CONTINUE_SEARCH;
    kes_test::WriteFileBytes(savedPath, savedBytes);
    return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

TEST(BundledPlugins, AFileAnotherProgramSavedSinceItWasReadIsLeftAsThatProgramSavedIt) {
    TempDir dir;
    const CPluginModule zip(CopyBundled(dir, "kes_zip"));
    ASSERT_TRUE(zip.Loaded());
    // Saved after the tool read it and before the plug-in began: it has
    // another size than the contents handed over.
    const std::string target = dir.MakeFile("a.zip", ZipWithComment("saved elsewhere"));
    EXPECT_NE(zip.Write(target, kEmptyZip, "comment"), 0);
    EXPECT_EQ(ReadFileBytes(target), ZipWithComment("saved elsewhere"));

    // Saved while the plug-in works, with the same size: only its time tells.
    kes_test::WriteFileBytes(target, kEmptyZip);
    SetModified(target, LongAgo());
    savedPath = target;
    savedBytes = std::string("PK\x05\x06", 4) + std::string(18, '\x01');
    const CPages contents(kEmptyZip.size());
    ASSERT_NE(contents.Data(), nullptr);
    std::copy(kEmptyZip.begin(), kEmptyZip.end(), contents.Data());
    DWORD old;
    ASSERT_TRUE(VirtualProtect(contents.Data(), kEmptyZip.size(), PAGE_READWRITE | PAGE_GUARD, &old));
    PVOID handler = AddVectoredExceptionHandler(1, SaveMeanwhile);
    EXPECT_NE(zip.Write(target, std::string_view(contents.Data(), kEmptyZip.size()), "comment"), 0);
    RemoveVectoredExceptionHandler(handler);
    EXPECT_EQ(ReadFileBytes(target), savedBytes);
    EXPECT_EQ(OtherFiles(dir), std::vector<std::string>{"a.zip"});
}

TEST(BundledPlugins, AnExceptionInsideAPlugInFailsTheFileInsteadOfEndingTheProgram) {
    TempDir dir;
    const CPluginModule png(CopyBundled(dir, "kes_png"));
    ASSERT_TRUE(png.Loaded());
    const std::string target = dir.MakeFile("a.png", "contents");
    // A comment of 512 MiB of NULs, valid Shift_JIS: the PNG plug-in's
    // conversion asks for a std::wstring longer than one can be, which
    // throws std::length_error.
    const size_t length = 0x20000000;
    const CPages comment(length + 1);
    ASSERT_NE(comment.Data(), nullptr);
    EXPECT_NE(png.Write(target, "contents", std::string_view(comment.Data(), length)), 0);
    EXPECT_EQ(ReadFileBytes(target), "contents");
    EXPECT_EQ(OtherFiles(dir), std::vector<std::string>{"a.png"});
}

namespace {

// What the tool hands WriteComment for a comment it holds as UTF-16.
std::string ShiftJis(const std::wstring& text) {
    std::string bytes(text.size() * 2, '\0');
    bytes.resize(WideCharToMultiByte(932, 0, text.data(), static_cast<int>(text.size()), bytes.data(),
                                     static_cast<int>(bytes.size()), nullptr, nullptr));
    return bytes;
}


}  // namespace

TEST(BundledPlugins, BothExportsWriteTheSameBytesForACommentTheCodePageHolds) {
    // Shift_JIS with a line break, a fullwidth tilde, and characters of
    // code page 932's own extensions.
    const std::wstring comments[] = {L"コメント ～∵①髙 表\r\n二行目", L""};
    TempDir dir;
    for (const TBundled& b : kBundled) {
        SCOPED_TRACE(b.name);
        const CPluginModule plugin(CopyBundled(dir, b.name));
        ASSERT_TRUE(plugin.Loaded() && plugin.Unicode());
        const std::string sample = Sample(b.sample);
        for (const std::wstring& comment : comments) {
            const std::string viaAnsi = dir.MakeFile(std::string("ansi_") + b.sample, sample);
            const std::string viaWide = dir.MakeFile(std::string("wide_") + b.sample, sample);
            ASSERT_EQ(plugin.Write(viaAnsi, sample, ShiftJis(comment)), CpiWritten);
            ASSERT_EQ(plugin.WriteW(Wide(viaWide), sample, comment), CpiWritten);
            const std::string written = ReadFileBytes(viaAnsi);
            EXPECT_NE(written, sample);
            EXPECT_TRUE(ReadFileBytes(viaWide) == written);
        }
    }
}

TEST(BundledPlugins, ACommentTheFormatCannotHoldIsRefusedAndTheFileLeftAsItWas) {
    // Not in code page 932: an accented letter, a heart, the wave dash
    // that best fit would turn into a fullwidth tilde.
    const std::wstring unicode[] = {L"café ♡", L"波〜"};
    // No form holds a lone surrogate.
    const std::wstring broken = std::wstring(L"x") + wchar_t(0xD800);
    TempDir dir;
    for (const TBundled& b : kBundled) {
        SCOPED_TRACE(b.name);
        const CPluginModule plugin(CopyBundled(dir, b.name));
        ASSERT_TRUE(plugin.Loaded() && plugin.Unicode());
        const std::string sample = Sample(b.sample);
        const std::string target = dir.MakeFile(b.sample, sample);
        for (const std::wstring& comment : unicode) {
            const int result = plugin.WriteW(Wide(target), ReadFileBytes(target), comment);
            if (b.codePage) {
                EXPECT_EQ(result, CpiCommentNotHeld);
                EXPECT_TRUE(ReadFileBytes(target) == sample);
            } else {
                EXPECT_EQ(result, CpiWritten);
            }
        }
        const std::string before = ReadFileBytes(target);
        EXPECT_EQ(plugin.WriteW(Wide(target), before, broken), CpiCommentNotHeld);
        EXPECT_TRUE(ReadFileBytes(target) == before);
    }
    EXPECT_EQ(OtherFiles(dir).size(), std::size(kBundled));

    // Too long for the format is a reason of its own: past the ZIP
    // comment's 16-bit length, an ID3v2 tag's size restriction (crc.mp3's
    // 40 KB) and a FLAC block's 24-bit length.
    const struct {
        const char* name;
        const char* sample;
        size_t tooLong;
    } kTooLong[] = {{"kes_zip", "commented.zip", 65536}, {"kes_mp3", "crc.mp3", 41 * 1024},
                    {"kes_flac", "commented.flac", 0x1000000}};
    TempDir tooLongDir;
    for (const auto& t : kTooLong) {
        SCOPED_TRACE(t.name);
        const CPluginModule plugin(CopyBundled(tooLongDir, t.name));
        const std::string sample = Sample(t.sample);
        const std::string target = tooLongDir.MakeFile(t.sample, sample);
        EXPECT_EQ(plugin.WriteW(Wide(target), sample, std::wstring(t.tooLong, L'x')), CpiCommentTooLong);
        EXPECT_TRUE(ReadFileBytes(target) == sample);
    }
    EXPECT_EQ(OtherFiles(tooLongDir).size(), std::size(kTooLong));
}

TEST(BundledPlugins, ReadCommentWGivesBackWhatWasWrittenAndRefusesWhatAWriteWould) {
    const std::wstring japanese = L"日本語のコメント\r\n二行目";
    // Past the first buffer the tool offers (16 units), so it asks twice.
    const std::wstring unicode = L"é♡ 한국어 \U0001D11E\r\nline";
    TempDir dir;
    for (const TBundled& b : kBundled) {
        SCOPED_TRACE(b.name);
        const CPluginModule plugin(CopyBundled(dir, b.name));
        ASSERT_TRUE(plugin.Loaded() && plugin.Unicode());
        const std::string target = dir.MakeFile(b.sample, Sample(b.sample));
        const std::wstring path = Wide(target);
        // Another program's comment, as the tool would hand it to a write;
        // reading leaves the file alone.
        std::wstring read;
        const std::string sample = ReadFileBytes(target);
        EXPECT_EQ(plugin.ReadW(path, sample, read), CpiWritten);
        EXPECT_EQ(read, b.oldComment);
        EXPECT_TRUE(ReadFileBytes(target) == sample);
        std::wstring held = b.oldComment;
        for (const std::wstring& comment : {japanese, unicode, std::wstring()}) {
            const int written = plugin.WriteW(path, ReadFileBytes(target), comment);
            EXPECT_EQ(written, b.codePage && comment == unicode ? CpiCommentNotHeld : CpiWritten);
            if (written == CpiWritten) held = comment.empty() ? L"(none)" : comment;
            EXPECT_EQ(plugin.ReadW(path, ReadFileBytes(target), read), CpiWritten);
            EXPECT_EQ(read, held);
        }
        // What a write would refuse now, the read refuses with the same
        // result: a file of another type, one saved since it was read, one
        // with a second name, and a read-only one.
        const std::string other = dir.MakeFile(std::string("other_") + b.sample, "no file of this type\r\n");
        const std::string linked = dir / (std::string("linked_") + b.sample);
        ASSERT_TRUE(CreateHardLinkA(linked.c_str(), other.c_str(), nullptr));
        const std::string current = ReadFileBytes(target);
        const std::string readOnly = dir.MakeFile(std::string("readonly_") + b.sample, current);
        SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
        const struct {
            std::string path, contents;
            int result;
        } refused[] = {{other, "no file of this type\r\n", CpiRefused},
                       {target, current + "more", CpiChangedElsewhere},
                       {linked, "no file of this type\r\n", CpiRefused},
                       {readOnly, current, CpiReadOnly}};
        for (const auto& r : refused) {
            SCOPED_TRACE(r.path);
            read = L"untouched";
            EXPECT_EQ(plugin.ReadW(Wide(r.path), r.contents, read), r.result);
            EXPECT_EQ(plugin.WriteW(Wide(r.path), r.contents, L"x"), r.result);
            EXPECT_EQ(read, L"untouched");
        }
        // A file of the type with a second name.
        ASSERT_TRUE(DeleteFileA(linked.c_str()));
        ASSERT_TRUE(CreateHardLinkA(linked.c_str(), target.c_str(), nullptr));
        EXPECT_EQ(plugin.ReadW(path, current, read), CpiFileFailed);
        EXPECT_EQ(plugin.WriteW(path, current, L"x"), CpiFileFailed);
        EXPECT_TRUE(ReadFileBytes(target) == current);
    }
}

namespace {

// A plan as the tool takes it from a plug-in's PlanCommentW: the pieces
// joined, kept ranges read from the contents handed over, and given back
// once through ReleasePlanW.
struct TPlanned {
    int result = -1;
    std::string joined;
    DWORD flags = 0;
    std::vector<CpiPiece> pieces;
};

class CPlanExports {
public:
    explicit CPlanExports(HMODULE module)
        : plan_(Export<TPlanCommentW>(module, "PlanCommentW")),
          release_(Export<TReleasePlanW>(module, "ReleasePlanW")),
          readBytes_(Export<TReadCommentBytesW>(module, "ReadCommentBytesW")) {}
    bool Present() const { return plan_ && release_ && readBytes_; }

    TPlanned Plan(const std::wstring& path, std::string_view contents, const std::wstring& comment) const {
        CpiPlan plan{};
        plan.size = sizeof plan;
        TPlanned planned;
        planned.result = plan_(path.c_str(), contents.data(), static_cast<DWORD>(contents.size()), comment.c_str(),
                               static_cast<DWORD>(comment.size()), &plan);
        if (planned.result != CpiWritten) return planned;
        planned.flags = plan.flags;
        planned.pieces.assign(plan.pieces, plan.pieces + plan.pieceCount);
        for (const CpiPiece& p : planned.pieces) {
            if (p.bytes != nullptr) {
                planned.joined.append(static_cast<const char*>(p.bytes), p.size);
            } else {
                EXPECT_LE(size_t{p.offset} + p.size, contents.size()) << "a kept range past the contents";
                planned.joined.append(contents.substr(p.offset, p.size));
            }
        }
        release_(&plan);
        return planned;
    }
    // The comment the bytes hold, L"(none)" for none, as ReadW gives it.
    int ReadBytes(std::string_view contents, std::wstring& comment) const {
        std::wstring buffer(0x20000, L'\0');
        DWORD length = static_cast<DWORD>(buffer.size());
        const int result = readBytes_(contents.data(), static_cast<DWORD>(contents.size()), buffer.data(), &length);
        if (result == CpiWritten) comment = length == CPI_NO_COMMENT ? L"(none)" : buffer.substr(0, length);
        return result;
    }

private:
    template <class T>
    static T Export(HMODULE module, const char* name) {
        return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    }
    TPlanCommentW plan_;
    TReleasePlanW release_;
    TReadCommentBytesW readBytes_;
};

}  // namespace

// The tool writes a planning plug-in's files itself, from its plan: the
// plan must spell exactly what the plug-in's own write leaves, refuse what
// it refuses with the same result, and, since the tool checks the file
// itself, look at no file at all.
TEST(BundledPlugins, APlanSpellsTheBytesTheWriteLeavesWithoutLookingAtTheFile) {
    const std::wstring comments[] = {L"日本語のコメント\r\n二行目", L"é♡ 한국어 \U0001D11E", L"",
                                     std::wstring(65536, L'x')};
    TempDir dir;
    const std::wstring nowhere = Wide(dir / "no such folder\\file");
    for (const TBundled& b : kBundled) {
        SCOPED_TRACE(b.name);
        const CPluginModule plugin(CopyBundled(dir, b.name));
        const CPlanExports exports(plugin.Handle());
        ASSERT_TRUE(plugin.Loaded() && plugin.Unicode() && exports.Present());
        for (const std::string& contents : {Sample(b.sample), std::string("no file of this type\r\n"), std::string()}) {
            for (const std::wstring& comment : comments) {
                SCOPED_TRACE(testing::Message() << contents.size() << " bytes, comment of " << comment.size());
                const std::string target = dir.MakeFile(b.sample, contents);
                const TPlanned planned = exports.Plan(nowhere, contents, comment);
                const int written = plugin.WriteW(Wide(target), contents, comment);
                EXPECT_EQ(planned.result, written);
                if (written != CpiWritten) continue;
                EXPECT_TRUE(planned.joined == ReadFileBytes(target));
                EXPECT_EQ(planned.flags, DWORD{CpiPlanKeepTime});  // the setting's default
                std::wstring read;
                EXPECT_EQ(exports.ReadBytes(planned.joined, read), CpiWritten);
                EXPECT_EQ(read, comment.empty() ? L"(none)" : comment);
                // Planned again over what it made: one piece of all of it.
                const TPlanned again = exports.Plan(nowhere, planned.joined, comment);
                ASSERT_EQ(again.result, CpiWritten);
                ASSERT_EQ(again.pieces.size(), 1u);
                EXPECT_TRUE(again.pieces[0].bytes == nullptr && again.pieces[0].offset == 0 &&
                            again.pieces[0].size == planned.joined.size());
            }
        }
        // The file's own bytes are kept by reference, not copied into the plan.
        const std::string sample = Sample(b.sample);
        const TPlanned planned = exports.Plan(nowhere, sample, comments[0]);
        ASSERT_EQ(planned.result, CpiWritten);
        EXPECT_TRUE(std::any_of(planned.pieces.begin(), planned.pieces.end(),
                                [](const CpiPiece& p) { return p.bytes == nullptr && p.size > 0; }));
        std::wstring read;
        EXPECT_EQ(exports.ReadBytes("no file of this type\r\n", read), CpiRefused);
    }
    // The setting says whether the tool keeps the file's time.
    const std::string path = CopyBundled(dir, "kes_zip");
    ASSERT_TRUE(WritePrivateProfileStringA("Settings", "KeepModifiedTime", "0",
                                           (path.substr(0, path.size() - 4) + ".ini").c_str()));
    const CPluginModule zip(path);
    const TPlanned planned = CPlanExports(zip.Handle()).Plan(nowhere, kEmptyZip, L"comment");
    EXPECT_EQ(planned.result, CpiWritten);
    EXPECT_EQ(planned.flags, 0u);
    EXPECT_EQ(planned.joined, ZipWithComment("comment"));

    // Each of the JPEG plug-in's settings (both comments, the segment only,
    // XPComment only): the plan and both writes leave the same bytes, the
    // read gives back what the setting wrote, and a comment that code page
    // 932 cannot hold goes into XPComment alone.
    const struct {
        const char* setting;
        int unicode;
        const wchar_t* windowsComment;  // what the read finds in xp.jpg
    } kJpeg[] = {{"0", CpiCommentNotHeld, L"old XP comment"},
                 {"1", CpiCommentNotHeld, L"(none)"},
                 {"2", CpiWritten, L"old XP comment"}};
    for (const auto& j : kJpeg) {
        SCOPED_TRACE(j.setting);
        TempDir jpegDir;
        const std::string jpegPath = CopyBundled(jpegDir, "kes_jpeg");
        ASSERT_TRUE(WritePrivateProfileStringA("Settings", "Comments", j.setting,
                                               (jpegPath.substr(0, jpegPath.size() - 4) + ".ini").c_str()));
        const CPluginModule jpeg(jpegPath);
        const CPlanExports exports(jpeg.Handle());
        std::wstring read;
        EXPECT_EQ(exports.ReadBytes(Sample("xp.jpg"), read), CpiWritten);
        EXPECT_EQ(read, j.windowsComment);
        for (const char* sample : {"xp.jpg", "exif_ii.jpg", "plain.jpg"}) {
            const std::string contents = Sample(sample);
            for (const std::wstring& comment : {comments[0], comments[1]}) {
                SCOPED_TRACE(sample);
                const std::string wide = jpegDir.MakeFile(std::string("wide_") + sample, contents);
                const int written = jpeg.WriteW(Wide(wide), contents, comment);
                EXPECT_EQ(written, comment == comments[1] ? j.unicode : CpiWritten);
                EXPECT_EQ(exports.Plan(nowhere, contents, comment).result, written);
                if (written != CpiWritten) continue;
                const TPlanned planned = exports.Plan(nowhere, contents, comment);
                EXPECT_TRUE(planned.joined == ReadFileBytes(wide));
                EXPECT_EQ(exports.ReadBytes(planned.joined, read), CpiWritten);
                EXPECT_EQ(read, comment);
                if (comment != comments[0]) continue;
                const std::string ansi = jpegDir.MakeFile(std::string("ansi_") + sample, contents);
                EXPECT_EQ(jpeg.Write(ansi, contents, ShiftJis(comment)), CpiWritten);
                EXPECT_TRUE(ReadFileBytes(ansi) == planned.joined);
            }
        }
    }
}

namespace {

// Points one function that a loaded plug-in imports at a stand-in while it
// lives: a failure the system gives only in a rare instant, given on
// demand, to the real DLL.
class CImportPatch {
public:
    CImportPatch(HMODULE module, const char* name, FARPROC standIn) {
        auto* base = reinterpret_cast<BYTE*>(module);
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
            base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
        const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name;
             ++d) {
            auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
            auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
            for (; names->u1.AddressOfData; ++names, ++slots) {
                if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
                const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
                if (std::strcmp(reinterpret_cast<const char*>(byName->Name), name) != 0) continue;
                slot_ = &slots->u1.Function;
                old_ = Set(reinterpret_cast<decltype(old_)>(standIn));
                return;
            }
        }
    }
    CImportPatch(const CImportPatch&) = delete;
    CImportPatch& operator=(const CImportPatch&) = delete;
    ~CImportPatch() {
        if (slot_) Set(old_);
    }
    bool Patched() const { return slot_ != nullptr; }

private:
    using Slot = decltype(IMAGE_THUNK_DATA{}.u1.Function);
    Slot Set(Slot value) {
        DWORD protection;
        VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &protection);
        const Slot was = *slot_;
        *slot_ = value;
        VirtualProtect(slot_, sizeof *slot_, protection, &protection);
        return was;
    }
    Slot* slot_ = nullptr;
    Slot old_ = 0;
};

// A file that another program opens in the instant after the replace
// cannot be deleted: the plug-in deletes through its handle's disposition.
BOOL WINAPI CannotDelete(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return FALSE;
}

}  // namespace

TEST(BundledPlugins, AnOriginalThatCannotBeDeletedFromItsBackupNameIsReportedAndKept) {
    TempDir dir;
    const CPluginModule zip(CopyBundled(dir, "kes_zip"));
    ASSERT_TRUE(zip.Loaded());
    const std::string target = dir.MakeFile("a.zip", kEmptyZip);
    {
        const CImportPatch patch(zip.Handle(), "SetFileInformationByHandle",
                                 reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&CannotDelete)));
        ASSERT_TRUE(patch.Patched());
        EXPECT_EQ(zip.Write(target, kEmptyZip, "comment"), CpiBackupLeft);
    }
    EXPECT_EQ(ReadFileBytes(target), ZipWithComment("comment"));
    std::vector<std::string> others = OtherFiles(dir);
    ASSERT_EQ(others.size(), 2u);
    const std::string backup = others[0] == "a.zip" ? others[1] : others[0];
    EXPECT_EQ(backup.substr(backup.size() - 4), ".bak");
    EXPECT_EQ(ReadFileBytes(dir / backup), kEmptyZip);
    // The next write goes through, and leaves the old backup alone.
    EXPECT_EQ(zip.Write(target, ZipWithComment("comment"), "again"), CpiWritten);
    EXPECT_EQ(ReadFileBytes(dir / backup), kEmptyZip);
    EXPECT_EQ(OtherFiles(dir).size(), 2u);
}

namespace {

// Answers the next dialog owned by `owner` from a second thread, while the
// test's own thread sits in the plug-in's modal call. Waits up to a minute:
// a first start of Wine can be slow.
class DialogWatcher {
public:
    template <class Act>
    DialogWatcher(HWND owner, Act act)
        : thread_([this, owner, act] {
              for (int i = 0; i < 1200 && !done_; ++i) {
                  HWND dialog = kes_test::FindTopLevelWindow(GetCurrentProcessId(), "#32770", owner);
                  if (dialog != nullptr) {
                      act(dialog);
                      done_ = true;
                      return;
                  }
                  Sleep(50);
              }
          }) {}
    ~DialogWatcher() { Finish(); }
    // Whether it answered a dialog. The modal call can return as soon as
    // the answer is taken, before the watcher has noted it: wait for it.
    bool Done() {
        Finish();
        return done_;
    }

private:
    void Finish() {
        if (thread_.joinable()) thread_.join();
    }

    std::atomic<bool> done_{false};
    std::thread thread_;
};

}  // namespace

TEST(BundledPlugins, TheSettingsDialogKeepsTheChoiceBesideTheDllAndTheAboutBoxIsOwned) {
    TempDir dir;
    // A folder that the code page cannot name: the settings file is found
    // all the same.
    const CUnicodeDir pluginDir;
    const std::wstring path = pluginDir.Make(L"Ryūichi ♡\\kes_zip.cpi");
    ASSERT_TRUE(CopyFileW(Wide(kes_test::ExeDir() + KES_BUNDLED_DIR + "kes_zip.cpi").c_str(), path.c_str(), FALSE));
    const std::wstring ini = path.substr(0, path.size() - 4) + L".ini";
    const CPluginModule zip(path);
    ASSERT_TRUE(zip.Loaded());
    HWND owner = CreateWindowA("STATIC", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                               nullptr, nullptr);
    ASSERT_NE(owner, nullptr);
    const int kCheckBox = 101;  // the dialog's only check box

    std::atomic<UINT> checkedFirst{99}, checkedSecond{99};
    {
        DialogWatcher watcher(owner, [&](HWND dialog) {
            checkedFirst = IsDlgButtonChecked(dialog, kCheckBox);
            SendDlgItemMessageA(dialog, kCheckBox, BM_CLICK, 0, 0);
            SendDlgItemMessageA(dialog, IDOK, BM_CLICK, 0, 0);
        });
        EXPECT_EQ(zip.Configure(owner, ModeSettings), 0);
    }
    EXPECT_EQ(checkedFirst, UINT{BST_CHECKED});  // on by default
    EXPECT_EQ(GetPrivateProfileIntW(L"Settings", L"KeepModifiedTime", 7, ini.c_str()), 0u);
    // The choice holds at once for what this load of the plug-in writes.
    const std::string target = dir.MakeFile("a.zip", kEmptyZip);
    SetModified(target, LongAgo());
    EXPECT_EQ(zip.Write(target, kEmptyZip, "comment"), 0);
    EXPECT_FALSE(SameTime(Modified(target), LongAgo()));
    {
        DialogWatcher watcher(owner, [&](HWND dialog) {
            checkedSecond = IsDlgButtonChecked(dialog, kCheckBox);
            SendDlgItemMessageA(dialog, kCheckBox, BM_CLICK, 0, 0);
            SendDlgItemMessageA(dialog, IDCANCEL, BM_CLICK, 0, 0);
        });
        EXPECT_EQ(zip.Configure(owner, ModeSettings), 0);
    }
    EXPECT_EQ(checkedSecond, UINT{BST_UNCHECKED});
    EXPECT_EQ(GetPrivateProfileIntW(L"Settings", L"KeepModifiedTime", 7, ini.c_str()), 0u);  // cancelled

    // A plug-in with a choice of comments shows its options, the first
    // chosen by default, and a choice holds at once: the JPEG plug-in's
    // third writes XPComment alone, which holds any character.
    const std::string jpegPath = CopyBundled(dir, "kes_jpeg");
    const CPluginModule jpeg(jpegPath);
    const int kFirstOption = 104;
    std::atomic<UINT> firstOption{99};
    {
        DialogWatcher watcher(owner, [&](HWND dialog) {
            firstOption = IsDlgButtonChecked(dialog, kFirstOption);
            SendDlgItemMessageA(dialog, kFirstOption + 2, BM_CLICK, 0, 0);
            SendDlgItemMessageA(dialog, IDOK, BM_CLICK, 0, 0);
        });
        EXPECT_EQ(jpeg.Configure(owner, ModeSettings), 0);
    }
    EXPECT_EQ(firstOption, UINT{BST_CHECKED});
    EXPECT_EQ(GetPrivateProfileIntA("Settings", "Comments", 7,
                                    (jpegPath.substr(0, jpegPath.size() - 4) + ".ini").c_str()), 2u);
    const std::string photo = dir.MakeFile("a.jpg", Sample("commented.jpg"));
    const std::wstring unicode = L"café ♡";
    EXPECT_EQ(jpeg.WriteW(Wide(photo), Sample("commented.jpg"), unicode), CpiWritten);
    std::wstring read;
    EXPECT_EQ(jpeg.ReadW(Wide(photo), ReadFileBytes(photo), read), CpiWritten);
    EXPECT_EQ(read, unicode);
    {
        DialogWatcher watcher(owner, [](HWND box) { SendMessageA(box, WM_COMMAND, IDOK, 0); });
        EXPECT_EQ(zip.Configure(owner, ModeAbout), 0);
        EXPECT_TRUE(watcher.Done()) << "no about box owned by the window";
    }
    DestroyWindow(owner);
}
