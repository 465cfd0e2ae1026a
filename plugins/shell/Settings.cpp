#include "Settings.h"

#include <optional>
#include <string>

#include "CpiShell.h"

namespace kes {
namespace {

constexpr wchar_t kSection[] = L"Settings";
constexpr wchar_t kKeepModifiedTime[] = L"KeepModifiedTime";
constexpr wchar_t kComments[] = L"Comments";
constexpr DWORD kLongestPath = 32768;

// Read from the INI file once per load of the plug-in: a run loads it once
// and writes many files.
std::optional<bool> keepModifiedTime;
std::optional<size_t> commentOption;

// The DLL's own path with its extension (".cpi") changed to .ini, in
// UTF-16, since the folder the user keeps the tool in may have a name the
// code page cannot hold; empty when it cannot be had. The settings
// dialog's procedure calls this, and no exception may unwind through the
// dialog's frames.
std::wstring IniPath() noexcept {
    try {
        std::wstring path(MAX_PATH, L'\0');
        DWORD n;
        while ((n = GetModuleFileNameW(ThisModule(), path.data(), static_cast<DWORD>(path.size()))) == path.size() &&
               path.size() < kLongestPath)
            path.resize(path.size() * 2);
        if (n == 0 || n >= path.size()) return std::wstring();
        path.resize(n);
        const size_t dot = path.find_last_of(L".\\");
        if (dot != std::wstring::npos && path[dot] == L'.') path.resize(dot);
        return path + L".ini";
    } catch (...) {
        return std::wstring();
    }
}

size_t OptionCount() { return kPluginFormat.choice ? kPluginFormat.choice->options.size() : 1; }

}  // namespace

bool KeepModifiedTime() {
    if (!keepModifiedTime) {
        const std::wstring ini = IniPath();
        keepModifiedTime = ini.empty() || GetPrivateProfileIntW(kSection, kKeepModifiedTime, 1, ini.c_str()) != 0;
    }
    return *keepModifiedTime;
}

bool SaveKeepModifiedTime(bool keep) {
    const std::wstring ini = IniPath();
    if (ini.empty() || !WritePrivateProfileStringW(kSection, kKeepModifiedTime, keep ? L"1" : L"0", ini.c_str()))
        return false;
    keepModifiedTime = keep;
    return true;
}

size_t CommentOption() {
    if (!commentOption) {
        const std::wstring ini = IniPath();
        const UINT option = ini.empty() ? 0 : GetPrivateProfileIntW(kSection, kComments, 0, ini.c_str());
        commentOption = option < OptionCount() ? option : 0;  // another version's or a mistyped one
    }
    return *commentOption;
}

bool SaveCommentOption(size_t option) {
    const std::wstring ini = IniPath();
    // One digit, made without allocating: the dialog's procedure calls this.
    const wchar_t digit[] = {static_cast<wchar_t>(L'0' + option), L'\0'};
    if (option >= OptionCount() || option > 9 || ini.empty() ||
        !WritePrivateProfileStringW(kSection, kComments, digit, ini.c_str()))
        return false;
    commentOption = option;
    return true;
}

}  // namespace kes
