// The three exports every bundled plug-in shares; what differs between them
// comes from kPluginFormat.
#include <algorithm>
#include <cstring>
#include <new>

#include "CpiShell.h"
#include "Dialogs.h"
#include "SafeReplace.h"
#include "Settings.h"
#include "cpi.h"

namespace kes {

HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ThisModule), &module);
    return module;
}

namespace {

const char* InfoText(int info) {
    switch (info) {
        case InfoTag: return CPI_TAG;
        case InfoVersion: return kPluginFormat.version;
        case InfoPatterns: return kPluginFormat.patterns;
        case InfoDescription: return kPluginFormat.description;
    }
    return nullptr;
}

WriteResult Write(LPCSTR path, std::string_view contents, std::string_view comment) {
    // Checked before anything else so that a read-only file is refused even
    // when it would not change.
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return kFileFailed;
    if (attributes & FILE_ATTRIBUTE_READONLY) return kReadOnly;

    const Rewrite rewritten = kPluginFormat.setComment(contents, comment);
    if (!rewritten) return kRefused;
    if (rewritten->Equals(contents)) return kWritten;  // already carries this comment
    return ReplaceContents(path, *rewritten, KeepModifiedTime());
}

}  // namespace
}  // namespace kes

extern "C" {

int WINAPI GetPluginInfo(int info, LPSTR buffer, int bufferSize) {
    const char* text = kes::InfoText(info);
    if (!text || !buffer || bufferSize <= 0) return 0;
    const size_t length = std::min(std::strlen(text), static_cast<size_t>(bufferSize - 1));
    std::memcpy(buffer, text, length);
    buffer[length] = '\0';
    return static_cast<int>(length);
}

int WINAPI ConfigurationDlg(HWND window, int mode) {
    switch (mode) {
        case ModeQuery: return CapAbout | CapSettings;
        case ModeAbout: return kes::ShowAbout(window);
        case ModeSettings: return kes::ShowSettings(window);
    }
    return 1;
}

int WINAPI WriteComment(HWND, LPCSTR path, const void* contents, DWORD size, LPCSTR comment,
                        DWORD commentLength) {
    if (!path || (!contents && size != 0) || (!comment && commentLength != 0)) return kes::kRefused;
    try {
        return kes::Write(path, std::string_view(static_cast<const char*>(contents), size),
                          std::string_view(comment, commentLength));
    } catch (const std::bad_alloc&) {
        return kes::kNoMemory;
    }
}

}  // extern "C"
