#include "Vornic_dll.h"

#include <cstring>

namespace {

// The one place where an untyped export address becomes a typed stdcall
// pointer; the cast between function pointer types is what GetProcAddress
// forces on every caller.
template <class Fn>
Fn ResolveExport(HMODULE module, const char* name) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wcast-function-type"
    return reinterpret_cast<Fn>(GetProcAddress(module, name));
#pragma GCC diagnostic pop
}

// The buffer protocol of the read exports, for either of them: `read`
// calls the export with a buffer and its room. Most comments fit the first
// buffer; a longer one is asked for again with the room the plug-in said
// it needs.
template <class Read>
int ReadInto(Read read, std::optional<std::wstring>& comment) {
    std::wstring buffer(256, L'\0');
    for (;;) {
        DWORD length = static_cast<DWORD>(buffer.size());
        const int result = read(buffer.data(), &length);
        if (result != 0) return result;
        if (length == CPI_NO_COMMENT) {
            comment.reset();
            return 0;
        }
        if (length < buffer.size()) {
            comment = buffer.substr(0, length);
            return 0;
        }
        // A plug-in that keeps asking for more than it said is answered as
        // one that failed, rather than followed without end.
        if (length >= 0x7FFFFFF) return CpiUnexpected;
        buffer.assign(size_t{length} + 1, L'\0');
    }
}

}  // namespace

CVornicDLL::~CVornicDLL() { Unload(); }

bool CVornicDLL::Load(const TFilePath& path) {
    Unload();
    ++LoadCount;
    // Wide, so that a tool unpacked into a folder whose name the code page
    // cannot hold still finds its plug-ins; the plug-in sees no difference.
    ModuleHandle = LoadLibraryW(path.Win32().c_str());
    return ModuleHandle != nullptr;
}

void CVornicDLL::Unload() {
    // Entry points into a released module would point at nothing: cleared
    // with it, so that a call without a bind fails plainly.
    GetPluginInfo = nullptr;
    WriteComment = nullptr;
    ConfigurationDlg = nullptr;
    WriteCommentW = nullptr;
    ReadCommentW = nullptr;
    PlanCommentW = nullptr;
    ReleasePlanW = nullptr;
    ReadCommentBytesW = nullptr;
    if (ModuleHandle == nullptr) return;
    FreeLibrary(ModuleHandle);
    ModuleHandle = nullptr;
}

bool CVornicDLL::BindGetPluginInfo() {
    GetPluginInfo = ResolveExport<TGetPluginInfo>(ModuleHandle, "GetPluginInfo");
    if (GetPluginInfo == nullptr) return false;
    // Byte for byte and case-sensitive: "cpi1" or "CPI1 " is another interface.
    return GetInfo(InfoTag) == CPI_TAG;
}

bool CVornicDLL::BindWriteComment() {
    WriteComment = ResolveExport<TWriteComment>(ModuleHandle, "WriteComment");
    return WriteComment != nullptr;
}

bool CVornicDLL::BindWriteCommentW() {
    WriteCommentW = ResolveExport<TWriteCommentW>(ModuleHandle, "WriteCommentW");
    return WriteCommentW != nullptr;
}

bool CVornicDLL::BindReadCommentW() {
    ReadCommentW = ResolveExport<TReadCommentW>(ModuleHandle, "ReadCommentW");
    return ReadCommentW != nullptr;
}

bool CVornicDLL::HasPlanExports() const {
    // A plug-in that has only some of them is not trusted with the file:
    // without the release its plans would never be given back, without the
    // byte reader no plan could be checked.
    for (const char* name : {"WriteCommentW", "ReadCommentW", "PlanCommentW", "ReleasePlanW", "ReadCommentBytesW"})
        if (!HasExport(name)) return false;
    return true;
}

bool CVornicDLL::BindPlans() {
    const bool all = HasPlanExports();
    PlanCommentW = all ? ResolveExport<TPlanCommentW>(ModuleHandle, "PlanCommentW") : nullptr;
    ReleasePlanW = all ? ResolveExport<TReleasePlanW>(ModuleHandle, "ReleasePlanW") : nullptr;
    ReadCommentBytesW = all ? ResolveExport<TReadCommentBytesW>(ModuleHandle, "ReadCommentBytesW") : nullptr;
    return all;
}

bool CVornicDLL::HasExport(const char* name) const {
    return ModuleHandle != nullptr && GetProcAddress(ModuleHandle, name) != nullptr;
}

int CVornicDLL::BindConfigurationDlg() {
    ConfigurationDlg = ResolveExport<TConfigurationDlg>(ModuleHandle, "ConfigurationDlg");
    if (ConfigurationDlg == nullptr) return 0;
    return ConfigurationDlg(nullptr, ModeQuery);
}

std::string CVornicDLL::GetInfo(int number) {
    // One byte more than the plug-in is told, so that a text filling all 64
    // bytes without a NUL still ends inside the buffer.
    char buffer[CPI_INFO_SIZE + 1] = {};
    const int result = GetPluginInfo(number, buffer, CPI_INFO_SIZE);
    buffer[CPI_INFO_SIZE] = '\0';
    if (result == 0) return std::string();
    return std::string(buffer, strnlen(buffer, CPI_INFO_SIZE));
}

int CVornicDLL::CallWriteComment(HWND window, const std::string& path, const void* contents,
                                 DWORD size, const std::string& comment) {
    // c_str() of an empty string is a pointer to a zero byte, never null.
    return WriteComment(window, path.c_str(), contents, size, comment.c_str(),
                        static_cast<DWORD>(comment.size()));
}

int CVornicDLL::CallWriteCommentW(HWND window, const std::wstring& path, const void* contents,
                                  DWORD size, const std::wstring& comment) {
    return WriteCommentW(window, path.c_str(), contents, size, comment.c_str(),
                         static_cast<DWORD>(comment.size()));
}

int CVornicDLL::CallReadCommentW(const std::wstring& path, const void* contents, DWORD size,
                                 std::optional<std::wstring>& comment) {
    return ReadInto(
        [&](LPWSTR buffer, DWORD* length) { return ReadCommentW(path.c_str(), contents, size, buffer, length); },
        comment);
}

int CVornicDLL::CallPlanCommentW(const std::wstring& path, const void* contents, DWORD size,
                                 const std::wstring& comment, CpiPlan& plan) {
    return PlanCommentW(path.c_str(), contents, size, comment.c_str(), static_cast<DWORD>(comment.size()), &plan);
}

void CVornicDLL::CallReleasePlanW(CpiPlan& plan) { ReleasePlanW(&plan); }

int CVornicDLL::CallReadCommentBytesW(const void* contents, DWORD size, std::optional<std::wstring>& comment) {
    return ReadInto([&](LPWSTR buffer, DWORD* length) { return ReadCommentBytesW(contents, size, buffer, length); },
                    comment);
}

int CVornicDLL::CallConfigurationDlg(HWND window, int mode) {
    return ConfigurationDlg(window, mode);
}
