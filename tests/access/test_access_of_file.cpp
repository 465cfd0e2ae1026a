// The Windows side of the access decision, on real kernel objects: what it
// reads of a descriptor against what the system's own converter makes of
// it, the caller, setting an owner, and a privilege enabled for a moment.
// Wine keeps any descriptor given to an event as it is, so events carry
// the lists a file under Wine cannot (deny entries, inherit flags).
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <memory>

#include "AccessOfFile.h"
#include "Handles.h"
#include "Sddl.h"
#include "TestSupport.h"

namespace kes::access {
namespace {

struct LocalFreer {
    void operator()(void* memory) const { LocalFree(memory); }
};

// An event whose descriptor is the one given, and a second handle to it
// that may read and change that descriptor.
CFileHandle EventWith(PSECURITY_DESCRIPTOR security) {
    SECURITY_ATTRIBUTES attributes{sizeof attributes, security, FALSE};
    const CFileHandle event(CreateEventW(&attributes, TRUE, FALSE, nullptr));
    HANDLE both = nullptr;
    EXPECT_TRUE(event.IsOpen() && DuplicateHandle(GetCurrentProcess(), event.Get(), GetCurrentProcess(), &both,
                                                  READ_CONTROL | WRITE_OWNER, FALSE, 0));
    return CFileHandle(both);
}

CFileHandle EventWith(const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR raw = nullptr;
    EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &raw, nullptr)) << sddl;
    const std::unique_ptr<void, LocalFreer> security(raw);
    return EventWith(raw);
}

CFileHandle OpenFile(const std::string& path) {
    return CFileHandle(CreateFileW(kes_test::AnsiPath(path).Win32().c_str(), READ_CONTROL | WRITE_OWNER | WRITE_DAC,
                                   FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
}

// The object's descriptor as the system writes it out.
std::string SystemSddl(HANDLE object) {
    constexpr SECURITY_INFORMATION what =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    char bytes[4096];
    DWORD needed = 0;
    wchar_t* raw = nullptr;
    if (!GetKernelObjectSecurity(object, what, bytes, sizeof bytes, &needed) ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorW(bytes, SDDL_REVISION_1, what, &raw, nullptr))
        return "";
    const std::unique_ptr<wchar_t, LocalFreer> text(raw);
    return kes_test::Narrow(raw);
}

bool PrivilegeEnabled(const char* name) {
    HANDLE raw = nullptr;
    LUID luid{};
    char bytes[4096];
    DWORD size = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw) || !LookupPrivilegeValueA(nullptr, name, &luid))
        return false;
    const CFileHandle token(raw);
    if (!GetTokenInformation(token.Get(), TokenPrivileges, bytes, sizeof bytes, &size)) return false;
    const auto* held = reinterpret_cast<const TOKEN_PRIVILEGES*>(bytes);
    return std::any_of(held->Privileges, held->Privileges + held->PrivilegeCount, [&](const LUID_AND_ATTRIBUTES& p) {
        return p.Luid.LowPart == luid.LowPart && p.Luid.HighPart == luid.HighPart &&
               (p.Attributes & SE_PRIVILEGE_ENABLED);
    });
}

bool IsCallerSid(const Caller& caller, const std::string& sid) {
    return sid == caller.user ||
           std::find(caller.ownerGroups.begin(), caller.ownerGroups.end(), sid) != caller.ownerGroups.end();
}

TEST(AccessOfFile, ReadsADescriptorAsTheSystemWritesItOut) {
    for (const wchar_t* sddl :
         {L"O:BAG:SYD:(D;;FW;;;BU)(A;OICIIO;FA;;;CO)(A;ID;0x1200a9;;;WD)(A;;GA;;;S-1-5-21-1-2-3-1001)",
          L"O:S-1-5-21-9-8-7-1001G:S-1-5-21-9-8-7-513D:(D;CINP;0x116;;;AU)(A;;FX;;;AN)", L"O:SYG:BAD:"}) {
        const CFileHandle event = EventWith(sddl);
        EXPECT_EQ(DescriptorOf(event.Get()), ParseSddl(kes_test::Narrow(sddl))) << kes_test::Narrow(sddl);
    }
    // No list at all, which grants everyone everything, is not an empty one.
    SECURITY_DESCRIPTOR open;
    ASSERT_TRUE(InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION) &&
                SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE));
    const std::optional<Descriptor> none = DescriptorOf(EventWith(&open).Get());
    ASSERT_TRUE(none);
    EXPECT_FALSE(none->hasDacl);

    // A file as Wine shows it: the Unix owner and mode.
    const kes_test::TempDir dir;
    const CFileHandle file = OpenFile(dir.MakeFile("photo.jpg"));
    ASSERT_TRUE(file.IsOpen());
    const std::string shown = SystemSddl(file.Get());
    EXPECT_EQ(DescriptorOf(file.Get()), ParseSddl(shown)) << shown;
    EXPECT_FALSE(DescriptorOf(nullptr));
}

TEST(AccessOfFile, TheCallerOwnsWhatItMakes) {
    const Caller caller = CurrentCaller();
    const kes_test::TempDir dir;
    const CFileHandle file = OpenFile(dir.MakeFile("new.zip"));
    const std::optional<Descriptor> made = DescriptorOf(file.Get());
    ASSERT_TRUE(made);
    EXPECT_TRUE(IsCallerSid(caller, made->owner)) << made->owner;
    // An elevated process may name Administrators as an owner.
    HANDLE raw = nullptr;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw));
    const CFileHandle token(raw);
    ASSERT_TRUE(GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof elevation, &size));
    EXPECT_EQ(IsCallerSid(caller, "S-1-5-32-544"), elevation.TokenIsElevated != 0);
    // Wine is told by its own registry key, which Windows does not have.
    HKEY key = nullptr;
    const bool wineKey = RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Wine", 0, KEY_READ, &key) == ERROR_SUCCESS;
    if (wineKey) RegCloseKey(key);
    EXPECT_EQ(UnderWine(), wineKey);
    EXPECT_EQ(caller.ownerMayBecomeCaller, !wineKey);
}

// Wine lets any owner be set on an event, and answers success on a file
// while keeping its Unix owner: SetOwner must tell the two apart.
TEST(AccessOfFile, SetOwnerIsTrueOnlyWhereTheOwnerHeld) {
    const std::string other = "S-1-5-21-7-7-7-1001";
    const CFileHandle event = EventWith(L"O:SYG:SYD:(A;;GA;;;WD)");
    EXPECT_TRUE(SetOwner(event.Get(), other));
    EXPECT_EQ(DescriptorOf(event.Get())->owner, other);
    EXPECT_FALSE(SetOwner(event.Get(), "S-1-5-21-not-a-sid"));

    const kes_test::TempDir dir;
    const CFileHandle file = OpenFile(dir.MakeFile("song.mp3"));
    const std::string owner = DescriptorOf(file.Get())->owner;
    EXPECT_TRUE(SetOwner(file.Get(), owner));
    EXPECT_FALSE(SetOwner(file.Get(), other));
    EXPECT_EQ(DescriptorOf(file.Get())->owner, owner);
}

TEST(AccessOfFile, APrivilegeIsEnabledForItsScopeAndPutBackAfter) {
    ASSERT_FALSE(PrivilegeEnabled(SE_RESTORE_NAME));
    {
        const CPrivilegeScope outer(SE_RESTORE_NAME);
        EXPECT_TRUE(outer.Enabled());
        {
            const CPrivilegeScope inner(SE_RESTORE_NAME);
            EXPECT_TRUE(inner.Enabled() && PrivilegeEnabled(SE_RESTORE_NAME));
        }
        EXPECT_TRUE(PrivilegeEnabled(SE_RESTORE_NAME)) << "the inner scope found it enabled and must leave it so";
    }
    EXPECT_FALSE(PrivilegeEnabled(SE_RESTORE_NAME));
    // One the token does not hold.
    EXPECT_FALSE(CPrivilegeScope(SE_CREATE_TOKEN_NAME).Enabled());
}

// The decision over real files: two made alike keep the same access; a
// list narrowed to the owner (which Wine turns into a mode) does not.
TEST(AccessOfFile, TheDecisionTellsRealFilesApart) {
    const kes_test::TempDir dir;
    const CFileHandle first = OpenFile(dir.MakeFile("a.png")), second = OpenFile(dir.MakeFile("b.png"));
    const Caller caller = CurrentCaller();
    EXPECT_EQ(Decide(DescriptorOf(first.Get()), DescriptorOf(second.Get()), caller), Verdict::kSame);

    const std::string owner = DescriptorOf(second.Get())->owner;
    PSECURITY_DESCRIPTOR raw = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
        ("D:(A;;FA;;;SY)(A;;FA;;;" + owner + ")").c_str(), SDDL_REVISION_1, &raw, nullptr));
    const std::unique_ptr<void, LocalFreer> security(raw);
    ASSERT_TRUE(SetKernelObjectSecurity(second.Get(), DACL_SECURITY_INFORMATION, raw));
    EXPECT_EQ(Decide(DescriptorOf(first.Get()), DescriptorOf(second.Get()), caller), Verdict::kAccessChanged)
        << SystemSddl(first.Get()) << " / " << SystemSddl(second.Get());
}

}  // namespace
}  // namespace kes::access
