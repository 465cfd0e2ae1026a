/*
 * The comment plug-in interface ("CPI1").
 *
 * A plug-in is a 32-bit DLL named *.cpi placed beside kes_bat.exe. It exports
 * three functions by their bare names (link with -Wl,--kill-at or a .def file,
 * since stdcall names are otherwise decorated as GetPluginInfo@12):
 *
 *   GetPluginInfo     answers info numbers with short texts
 *   ConfigurationDlg  reports capabilities (ModeQuery) or opens a dialog
 *   WriteComment      writes the comment into one file
 *
 * Every argument and result is 32 bits wide and the callee removes its
 * arguments (stdcall). Texts are NUL-ended byte strings in the system code
 * page (Shift_JIS on a Japanese system).
 *
 * Calls as a plug-in sees them:
 *  - at start-up: load; GetPluginInfo(0); ConfigurationDlg(0, ModeQuery);
 *    GetPluginInfo(1), (2), (3); ConfigurationDlg(0, ModeQuery) again.
 *  - About or Settings button: load; ConfigurationDlg(0, ModeQuery), which
 *    must be non-zero; ConfigurationDlg(window, ModeAbout or ModeSettings).
 *  - a batch run: load; WriteComment once per file; unload after the run.
 * Each load first releases whatever module the tool holds, even the same one.
 *
 * This header serves both the tool and plug-in authors. A plug-in defines
 * CPI_PLUGIN before including it to get the declarations of its exports.
 */
#ifndef KESTRANE_CPI_H
#define KESTRANE_CPI_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Info numbers for GetPluginInfo. */
enum {
    InfoTag = 0,         /* must answer exactly "CPI1" */
    InfoVersion = 1,     /* free text, stored by the tool but never shown */
    InfoPatterns = 2,    /* wildcard masks separated by ';', e.g. "*.jpg;*.jpeg" */
    InfoDescription = 3  /* the file type's description shown in the type list */
};

/* Modes of ConfigurationDlg. */
enum {
    ModeAbout = 0,     /* open the about dialog owned by the given window */
    ModeSettings = 1,  /* open the settings dialog owned by the given window */
    ModeQuery = 2      /* return the capability flags; the window is always 0 */
};

/* Capability flags returned for ModeQuery. They must be non-zero for the
   plug-in to be listed; bits other than these two only count toward that. */
enum {
    CapAbout = 1,
    CapSettings = 16
};

#define CPI_TAG "CPI1"
#define CPI_INFO_SIZE 64 /* the buffer size the tool always passes */

/* info: an Info* number; buffer: CPI_INFO_SIZE bytes.
   Result 0: no text. Otherwise a NUL-ended text of at most 64 bytes. */
typedef int(WINAPI* TGetPluginInfo)(int info, LPSTR buffer, int bufferSize);

/* mode ModeQuery: capability flags. ModeAbout, ModeSettings: 0 on success. */
typedef int(WINAPI* TConfigurationDlg)(HWND window, int mode);

/* path: the file's full path. contents: the whole file as read just before
   the call, with no terminator, valid only during the call. comment: the
   comment text, NUL-ended, and its length in bytes. Empty texts arrive as
   pointers to a zero byte, never as null. The tool holds no handle on the
   file meanwhile: the plug-in rewrites the file itself.
   Result 0 on success; any other value fails that file. */
typedef int(WINAPI* TWriteComment)(HWND window, LPCSTR path, const void* contents,
                                   DWORD size, LPCSTR comment, DWORD commentLength);

/* Further names of the interface that this tool never looks up. */
typedef int(WINAPI* TIsSupported)(LPCSTR path, DWORD handle);
typedef int(WINAPI* TGetComment)(LPCSTR path, LPSTR buffer, int bufferSize);

#ifdef CPI_PLUGIN
#define CPI_EXPORT __declspec(dllexport)
CPI_EXPORT int WINAPI GetPluginInfo(int info, LPSTR buffer, int bufferSize);
CPI_EXPORT int WINAPI ConfigurationDlg(HWND window, int mode);
CPI_EXPORT int WINAPI WriteComment(HWND window, LPCSTR path, const void* contents,
                                   DWORD size, LPCSTR comment, DWORD commentLength);
#endif

#ifdef __cplusplus
}
#endif

#endif /* KESTRANE_CPI_H */
