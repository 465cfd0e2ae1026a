#include "AccessOfFile.h"

#include <sddl.h>

#include <cwchar>
#include <memory>
#include <vector>

namespace kes::access {
namespace {

constexpr SECURITY_INFORMATION kOwnerGroupAndList =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

// What the SID conversions allocate, freed with LocalFree.
struct LocalFreer {
    void operator()(void* memory) const { LocalFree(memory); }
};
template <typename T>
using LocalPtr = std::unique_ptr<T, LocalFreer>;

// "S-1-...", or empty for no SID; nothing when it cannot be written out.
std::optional<std::string> SidText(PSID sid) {
    if (sid == nullptr) return std::string();
    wchar_t* raw = nullptr;
    if (!ConvertSidToStringSidW(sid, &raw)) return std::nullopt;
    const LocalPtr<wchar_t> text(raw);
    // A SID's text is digits, dashes and an S: ASCII.
    return std::string(raw, raw + std::wcslen(raw));
}

std::optional<Ace> AceAt(PACL list, DWORD index) {
    void* raw = nullptr;
    if (!GetAce(list, index, &raw)) return std::nullopt;
    // Every type of entry has its mask right after the header; the plain
    // allow and deny entries have their SID after that. Other types keep
    // no SID here: the decision refuses them wherever they act.
    const auto* entry = static_cast<const ACCESS_ALLOWED_ACE*>(raw);
    Ace ace{AceKind::kOther, entry->Header.AceFlags, entry->Mask, {}};
    if (entry->Header.AceType == ACCESS_ALLOWED_ACE_TYPE || entry->Header.AceType == ACCESS_DENIED_ACE_TYPE) {
        ace.kind = entry->Header.AceType == ACCESS_ALLOWED_ACE_TYPE ? AceKind::kAllow : AceKind::kDeny;
        std::optional<std::string> sid = SidText(const_cast<DWORD*>(&entry->SidStart));
        if (!sid) return std::nullopt;
        ace.sid = std::move(*sid);
    }
    return ace;
}

// One kind of information about the token, empty when it cannot be read.
std::vector<char> TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS what) {
    DWORD needed = 0;
    GetTokenInformation(token, what, nullptr, 0, &needed);
    std::vector<char> information(needed);
    if (needed == 0 || !GetTokenInformation(token, what, information.data(), needed, &needed)) information.clear();
    return information;
}

}  // namespace

std::optional<Descriptor> DescriptorOf(HANDLE object) {
    DWORD needed = 0;
    GetKernelObjectSecurity(object, kOwnerGroupAndList, nullptr, 0, &needed);
    if (needed == 0) return std::nullopt;
    std::vector<char> bytes(needed);
    const PSECURITY_DESCRIPTOR security = bytes.data();
    PSID owner = nullptr, group = nullptr;
    PACL list = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    if (!GetKernelObjectSecurity(object, kOwnerGroupAndList, security, needed, &needed) ||
        !GetSecurityDescriptorOwner(security, &owner, &defaulted) ||
        !GetSecurityDescriptorGroup(security, &group, &defaulted) ||
        !GetSecurityDescriptorDacl(security, &present, &list, &defaulted))
        return std::nullopt;
    const std::optional<std::string> ownerText = SidText(owner), groupText = SidText(group);
    if (!ownerText || !groupText) return std::nullopt;
    Descriptor descriptor{*ownerText, *groupText, present && list != nullptr, {}};
    for (DWORD i = 0; descriptor.hasDacl && i < list->AceCount; ++i) {
        std::optional<Ace> ace = AceAt(list, i);
        if (!ace) return std::nullopt;
        descriptor.dacl.push_back(std::move(*ace));
    }
    return descriptor;
}

namespace {

struct CallerOfToken {
    Caller caller;
    std::string defaultOwner;
};

CallerOfToken ReadCaller() {
    CallerOfToken read;
    Caller& caller = read.caller;
    caller.ownerMayBecomeCaller = !UnderWine();
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return read;
    const CFileHandle token(raw);
    const std::vector<char> user = TokenInformation(token.Get(), TokenUser);
    const std::vector<char> groups = TokenInformation(token.Get(), TokenGroups);
    const std::vector<char> owner = TokenInformation(token.Get(), TokenOwner);
    if (!user.empty()) caller.user = SidText(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid).value_or("");
    if (!groups.empty()) {
        const auto* list = reinterpret_cast<const TOKEN_GROUPS*>(groups.data());
        for (DWORD i = 0; i < list->GroupCount; ++i) {
            if (!(list->Groups[i].Attributes & SE_GROUP_OWNER)) continue;
            if (std::optional<std::string> sid = SidText(list->Groups[i].Sid)) caller.ownerGroups.push_back(*sid);
        }
    }
    if (!owner.empty()) {
        if (std::optional<std::string> sid = SidText(reinterpret_cast<const TOKEN_OWNER*>(owner.data())->Owner)) {
            caller.ownerGroups.push_back(*sid);
            read.defaultOwner = *sid;
        }
    }
    return read;
}

const CallerOfToken& TokenCaller() {
    static const CallerOfToken read = ReadCaller();
    return read;
}

}  // namespace

const Caller& CurrentCaller() { return TokenCaller().caller; }

const std::string& DefaultOwner() { return TokenCaller().defaultOwner; }

bool UnderWine() {
    static const bool wine = [] {
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return wine;
}

bool SetOwner(HANDLE object, const std::string& owner) {
    PSID raw = nullptr;
    if (!ConvertStringSidToSidA(owner.c_str(), &raw)) return false;
    const LocalPtr<void> sid(raw);
    SECURITY_DESCRIPTOR security;
    if (!InitializeSecurityDescriptor(&security, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorOwner(&security, raw, FALSE))
        return false;
    if (!SetKernelObjectSecurity(object, OWNER_SECURITY_INFORMATION, &security)) {
        if (GetLastError() != ERROR_INVALID_OWNER) return false;
        const CPrivilegeScope restore(SE_RESTORE_NAME);
        if (!restore.Enabled() || !SetKernelObjectSecurity(object, OWNER_SECURITY_INFORMATION, &security))
            return false;
    }
    // Wine answers success and keeps the Unix owner.
    const std::optional<Descriptor> now = DescriptorOf(object);
    return now && now->owner == owner;
}

CPrivilegeScope::CPrivilegeScope(const char* name) {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw)) return;
    token_ = CFileHandle(raw);
    TOKEN_PRIVILEGES wanted{};
    wanted.PrivilegeCount = 1;
    wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    DWORD size = 0;
    // A privilege the token does not hold is no failure of the call: only
    // the last error tells.
    enabled_ = LookupPrivilegeValueA(nullptr, name, &wanted.Privileges[0].Luid) &&
               AdjustTokenPrivileges(token_.Get(), FALSE, &wanted, sizeof previous_, &previous_, &size) &&
               GetLastError() == ERROR_SUCCESS;
}

// The previous state lists the privilege only where the call changed it,
// so one that was enabled before stays enabled.
CPrivilegeScope::~CPrivilegeScope() {
    if (enabled_ && previous_.PrivilegeCount > 0)
        AdjustTokenPrivileges(token_.Get(), FALSE, &previous_, 0, nullptr, nullptr);
}

}  // namespace kes::access
