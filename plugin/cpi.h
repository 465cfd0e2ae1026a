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
 * Two optional exports extend the interface for plug-ins that know
 * Unicode (the tool only looks them up, and calls nothing new on a plug-in
 * that lacks them, so older plug-ins see the calls above and no others):
 *
 *   WriteCommentW     the write with a UTF-16 path and comment; when a
 *                     plug-in has it, the tool writes every file through
 *                     it instead of WriteComment, whatever its name
 *   ReadCommentW      the file's current comment, without writing
 *
 * A plug-in that has WriteCommentW still exports WriteComment. The results
 * named Cpi* below let the tool say why a file was refused; the tool reads
 * them only from a plug-in that has WriteCommentW.
 *
 * Three further optional exports let a plug-in with both of those leave
 * the writing to the tool, which then writes many files with one flush of
 * the disk and keeps a record that survives a crash at any point:
 *
 *   PlanCommentW       what the file's new contents would be, as pieces;
 *                      it opens and writes no file
 *   ReleasePlanW       gives back what a plan holds
 *   ReadCommentBytesW  the comment that given contents hold, from the
 *                      bytes alone: the tool checks a plan with it
 *
 * When a plug-in has all three, the tool plans, checks and writes every
 * file itself and calls neither WriteCommentW nor WriteComment; it still
 * calls ReadCommentW for the preview's view of a file as it is. A plug-in
 * that has only some of the three is treated as having none of them.
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

/* Results of WriteCommentW and ReadCommentW. Any other non-zero value
   fails the file too; the tool then names no reason. */
enum {
    CpiWritten = 0,
    CpiRefused = 1,          /* not this format, or damaged */
    CpiReadOnly = 2,         /* the file is read-only */
    CpiFileFailed = 3,       /* the file could not be replaced; it is as it was */
    CpiNoMemory = 4,
    CpiChangedElsewhere = 5, /* another program changed the file since the tool read it */
    CpiUnexpected = 6,       /* a failure inside the plug-in; the file is as it was */
    CpiCommentNotHeld = 7,   /* the format cannot hold a character of the comment */
    CpiBackupLeft = 8,       /* written, but the old contents stay beside it under a
                                name of the plug-in's that could not be deleted */
    CpiCommentTooLong = 9    /* the format has no room for a comment this long (a
                                shorter one would fit); the file is as it was */
};

/* Optional. As WriteComment, but path and comment are UTF-16. path may be
   longer than MAX_PATH, in the \\?\ form; pass it to the file functions
   as it is (CreateFileW and the like). comment has CR LF line breaks, and
   commentLength counts its UTF-16 units without the NUL. */
typedef int(WINAPI* TWriteCommentW)(HWND window, LPCWSTR path, const void* contents,
                                    DWORD size, LPCWSTR comment, DWORD commentLength);

/* ReadCommentW's *length for a file without a comment. */
#define CPI_NO_COMMENT 0xFFFFFFFFu

/* Optional, for plug-ins that have WriteCommentW. Reads the comment of the
   file as WriteCommentW would find it, and never writes the file. path,
   contents and size are as WriteCommentW gets them. comment is a buffer of
   *length UTF-16 units (null when *length is 0).
   Result: CpiWritten when a write could go ahead, else the code with which
   WriteCommentW would refuse the file now (CpiRefused, CpiReadOnly, ...).
   On CpiWritten, *length is set to the comment's length in UTF-16 units
   without the NUL (CR LF line breaks, as the tool hands a comment to the
   write), or to CPI_NO_COMMENT when the file has none; the comment and a
   NUL are copied into the buffer only when it holds *length + 1 units.
   Otherwise the buffer is left alone: call again with a larger one, and
   set *length to that buffer's size first, since on return it holds the
   comment's length. A file whose comment is empty has none. */
typedef int(WINAPI* TReadCommentW)(LPCWSTR path, const void* contents, DWORD size,
                                   LPWSTR comment, DWORD* length);

/* One piece of a plan's new contents: `size` bytes, taken from the
   contents the plug-in was handed, from `offset` on, when `bytes` is null;
   else the `size` bytes at `bytes`, which stay valid until ReleasePlanW. */
typedef struct CpiPiece {
    const void* bytes;
    DWORD offset;
    DWORD size;
} CpiPiece;

/* The new contents of one file. The tool sets `size` to sizeof(CpiPlan)
   and everything else to zero before the call; the plug-in fills in the
   rest. The pieces, in order, spell the new contents; none at all is an
   empty file. Pieces that spell the contents handed over unchanged say
   that the file needs no change. The tool checks a plan before it writes
   anything: a piece that reaches past the contents handed over or past
   the end of memory, pieces that add up to 4 GiB or more, or a count
   without pieces fail the file as CpiUnexpected would, and the plan is
   released. */
typedef struct CpiPlan {
    DWORD size;
    DWORD flags;             /* CpiPlan* flags below */
    DWORD pieceCount;
    const CpiPiece* pieces;  /* valid until ReleasePlanW */
    void* owner;             /* the plug-in's own, for ReleasePlanW; the tool never reads it */
} CpiPlan;

enum {
    CpiPlanKeepTime = 1  /* the new file keeps the old file's modification time */
};

/* Optional, with WriteCommentW and ReadCommentW. path, contents, size,
   comment and commentLength are as WriteCommentW gets them. Opens,
   creates and writes no file, and may be called again, with other
   contents, before an earlier plan is released.
   Result CpiWritten: `plan` holds the new contents. The tool keeps
   `contents` unchanged and valid, and calls ReleasePlanW once, with this
   same `plan` pointer, when it no longer needs the plan.
   Any other result: the code with which WriteCommentW would refuse the
   file (CpiRefused, CpiCommentNotHeld, CpiCommentTooLong, ...); the plan
   holds nothing and is not released. */
typedef int(WINAPI* TPlanCommentW)(LPCWSTR path, const void* contents, DWORD size, LPCWSTR comment,
                                   DWORD commentLength, CpiPlan* plan);
/* Gives back what PlanCommentW put into `plan`: the CpiPlan it filled in,
   at the same address and as it left it. */
typedef void(WINAPI* TReleasePlanW)(CpiPlan* plan);
/* Optional, with PlanCommentW. ReadCommentW's answer for `contents`
   alone, looking at no file: CpiWritten with the comment these bytes hold
   (or CPI_NO_COMMENT), else CpiRefused for contents that are no file of
   the plug-in's type. The buffer protocol is ReadCommentW's. */
typedef int(WINAPI* TReadCommentBytesW)(const void* contents, DWORD size, LPWSTR comment, DWORD* length);

/* Further names of the interface that this tool never looks up. */
typedef int(WINAPI* TIsSupported)(LPCSTR path, DWORD handle);
typedef int(WINAPI* TGetComment)(LPCSTR path, LPSTR buffer, int bufferSize);

#ifdef CPI_PLUGIN
#define CPI_EXPORT __declspec(dllexport)
CPI_EXPORT int WINAPI GetPluginInfo(int info, LPSTR buffer, int bufferSize);
CPI_EXPORT int WINAPI ConfigurationDlg(HWND window, int mode);
CPI_EXPORT int WINAPI WriteComment(HWND window, LPCSTR path, const void* contents,
                                   DWORD size, LPCSTR comment, DWORD commentLength);
/* The optional exports; declared for the plug-ins that define them. */
CPI_EXPORT int WINAPI WriteCommentW(HWND window, LPCWSTR path, const void* contents,
                                    DWORD size, LPCWSTR comment, DWORD commentLength);
CPI_EXPORT int WINAPI ReadCommentW(LPCWSTR path, const void* contents, DWORD size,
                                   LPWSTR comment, DWORD* length);
CPI_EXPORT int WINAPI PlanCommentW(LPCWSTR path, const void* contents, DWORD size, LPCWSTR comment,
                                   DWORD commentLength, CpiPlan* plan);
CPI_EXPORT void WINAPI ReleasePlanW(CpiPlan* plan);
CPI_EXPORT int WINAPI ReadCommentBytesW(const void* contents, DWORD size, LPWSTR comment, DWORD* length);
#endif

#ifdef __cplusplus
}
#endif

#endif /* KESTRANE_CPI_H */
