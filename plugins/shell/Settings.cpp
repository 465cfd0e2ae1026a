#include "Settings.h"

#include <cstring>
#include <optional>

#include "CpiShell.h"

namespace kes {
namespace {

constexpr char kSection[] = "Settings";
constexpr char kKeepModifiedTime[] = "KeepModifiedTime";
constexpr char kIniExtension[] = ".ini";

// Read from the INI file once per load of the plug-in: a run loads it once
// and writes many files.
std::optional<bool> keepModifiedTime;

// The DLL's own path with its extension (".cpi") changed to .ini; false when
// it does not fit. Built in a fixed buffer: the settings dialog's procedure
// calls this, and no exception may unwind through the dialog's frames.
bool IniPath(char (&path)[MAX_PATH]) {
    const DWORD n = GetModuleFileNameA(ThisModule(), path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    // A '.' is never the second byte of a Shift_JIS character.
    char* end = std::strrchr(path, '.');
    if (end == nullptr) end = path + n;
    if (static_cast<size_t>(end - path) + sizeof kIniExtension > MAX_PATH) return false;
    std::memcpy(end, kIniExtension, sizeof kIniExtension);
    return true;
}

}  // namespace

bool KeepModifiedTime() {
    if (!keepModifiedTime) {
        char ini[MAX_PATH];
        keepModifiedTime = !IniPath(ini) || GetPrivateProfileIntA(kSection, kKeepModifiedTime, 1, ini) != 0;
    }
    return *keepModifiedTime;
}

bool SaveKeepModifiedTime(bool keep) {
    char ini[MAX_PATH];
    if (!IniPath(ini) || !WritePrivateProfileStringA(kSection, kKeepModifiedTime, keep ? "1" : "0", ini))
        return false;
    keepModifiedTime = keep;
    return true;
}

}  // namespace kes
