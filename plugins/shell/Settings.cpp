#include "Settings.h"

#include <string>

#include "CpiShell.h"

namespace kes {
namespace {

constexpr char kSection[] = "Settings";
constexpr char kKeepModifiedTime[] = "KeepModifiedTime";

// The DLL's own path with its extension changed to .ini.
std::string IniPath() {
    char module[MAX_PATH];
    const DWORD n = GetModuleFileNameA(ThisModule(), module, sizeof module);
    if (n == 0 || n >= sizeof module) return std::string();
    std::string path(module, n);
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of('\\');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) path.erase(dot);
    return path + ".ini";
}

}  // namespace

bool KeepModifiedTime() {
    const std::string ini = IniPath();
    if (ini.empty()) return true;
    return GetPrivateProfileIntA(kSection, kKeepModifiedTime, 1, ini.c_str()) != 0;
}

bool SaveKeepModifiedTime(bool keep) {
    const std::string ini = IniPath();
    return !ini.empty() &&
           WritePrivateProfileStringA(kSection, kKeepModifiedTime, keep ? "1" : "0", ini.c_str()) != FALSE;
}

}  // namespace kes
