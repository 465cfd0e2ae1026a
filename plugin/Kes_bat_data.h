// The plug-in registry: every usable plug-in of the tool's directory, in
// discovery order, and the one library slot through which the rest of the
// tool reaches them. At most one plug-in module is loaded at any time.
#ifndef KESTRANE_KES_BAT_DATA_H
#define KESTRANE_KES_BAT_DATA_H

#include <string>
#include <vector>

#include "FilePlan.h"
#include "HeldRetry.h"
#include "Vornic_dll.h"
#include "WholeFile.h"

struct TPluginList {
    TFilePath Path;           // scanned directory followed by the file name
    std::string Info;         // info 1; kept, never shown
    std::string Patterns;     // info 2, lower-cased: masks separated by ';'
    std::string Description;  // info 3
    int Flags = 0;            // CapAbout, CapSettings from the second capability query
    bool Unicode = false;     // exports WriteCommentW: takes any name and any comment
    bool Reads = false;       // exports ReadCommentW: tells a file's comment
    bool Plans = false;       // exports the plan exports too: the tool writes its files itself
};

// Result codes of WriteOneFile besides the plug-in's own.
enum {
    ErrOpenRead = -5,  // the file could not be opened or read whole
    ErrNoMemory = -4,  // no buffer for the contents, or too large for the interface
    // The plug-in takes code page text, and the path or the comment has no
    // exact form in it; the plug-in is not called.
    ErrNotInCodePage = -6,
    // The plug-in takes the plain form of a path only, and the path holds a
    // name that this form changes: one ending in a dot or a blank, which
    // Win32 strips ("album." would lead to "album"), or a device's name.
    // The plug-in is not called.
    ErrNameNotPlain = -10,
    // A folder of the run that could not be searched at all.
    ErrUnsearchable = -11,
    // The tool could not open, read or replace the file, and the system
    // said why: another program has it open (and kept it past a moment's
    // wait), access is denied, the disk is full, or the cloud provider
    // that keeps the file is not running.
    ErrHeld = -15,
    ErrAccessDenied = -16,
    ErrDiskFull = -17,
    ErrCloudNotRunning = -18,
};

// Whether WriteOneFile's result came from the plug-in, not from the
// tool, which did not call it.
bool HandedToPlugin(int result);

// The result that says why the tool could not open, read or replace a
// file, from the system's error; `otherwise` where it names no reason a
// user can act on.
int FailureOf(DWORD error, int otherwise);

// Reads the file whole for a plug-in, waiting through `retry` while
// another program holds it: 0, or ErrNoMemory, or why it could not be
// opened or read (FailureOf, else ErrOpenRead).
int ReadForPlugin(const TFilePath& path, TFileContents& contents, kes::CHeldRetry& retry);

class CKesBat {
public:
    CKesBat() = default;
    CKesBat(const CKesBat&) = delete;
    CKesBat& operator=(const CKesBat&) = delete;

    // directory ends in a path separator; the mask is appended directly.
    bool ScanDirectory(const TFilePath& directory, const std::wstring& mask);
    bool AddPlugin(const TFilePath& path);

    int Count() const;
    std::string GetPatterns(int index) const;
    std::string GetDescription(int index) const;
    int GetFlags(int index) const;
    // Whether the entry writes through WriteCommentW, or reads through
    // ReadCommentW; false out of range.
    bool IsUnicode(int index) const;
    bool CanRead(int index) const;
    // Whether the entry plans its files for the tool to write; false out
    // of range.
    bool CanPlan(int index) const;

    bool PrepareWrite(int index);
    // Loads the entry for reading comments only; false when it cannot be
    // loaded or has no ReadCommentW (a plug-in without it is not loaded).
    bool PrepareRead(int index);
    void ReleasePlugin();
    // The comment has CR LF line breaks. A plug-in without WriteCommentW gets
    // path and comment in the code page, where they have an exact form.
    int WriteOneFile(HWND window, const TFilePath& path, const std::wstring& comment);
    // The same, keeping what was read (the old contents, time and
    // attributes) in `contents` for the caller, and waiting for a file
    // held for a moment through the run's `retry`.
    int WriteOneFile(HWND window, const TFilePath& path, const std::wstring& comment, TFileContents& contents,
                     kes::CHeldRetry& retry);
    // Asks the plug-in for the comment of contents already in memory: 0
    // with the comment (nothing for none) when a write could go ahead, else
    // why not (the plug-in's refusal, ErrNotInCodePage); CpiUnexpected
    // without the read export.
    int ReadComment(const TFilePath& path, std::string_view contents, std::optional<std::wstring>& comment);
    // Whether the prepared plug-in writes through WriteCommentW, and reads
    // comments.
    bool PreparedUnicode() const { return slot_.HasWriteCommentW(); }
    bool PreparedReads() const { return slot_.HasReadCommentW(); }
    // Whether the prepared plug-in plans: PlanFile and ReadBytes need it.
    bool PreparedPlans() const { return slot_.HasPlans(); }
    // The new contents that the prepared plug-in plans for `contents`,
    // which the caller keeps alive and unchanged while it uses the plan;
    // it looks at no file. 0 with the plan, else the plug-in's refusal, or
    // CpiUnexpected for a plan that does not hold together (given back at
    // once) or a plug-in that does not plan. An earlier plan in `plan` is
    // given back first. The plan goes back through this registry's slot,
    // so the registry must outlive it.
    int PlanFile(const TFilePath& path, std::string_view contents, const std::wstring& comment, TFilePlan& plan);
    // The comment that `contents` hold, from the bytes alone, as
    // ReadComment answers; CpiUnexpected for a plug-in that does not plan.
    int ReadBytes(std::string_view contents, std::optional<std::wstring>& comment);
    // The module's path of an entry; empty out of range.
    TFilePath GetModulePath(int index) const;
    // Refused while a write is prepared: the slot then belongs to the run.
    bool ShowPluginDialog(HWND window, int index, int mode);

private:
    const TPluginList* Entry(int index) const;

    std::vector<TPluginList> plugins_;
    CVornicDLL slot_;
    // From a successful PrepareWrite to ReleasePlugin: the slot is the run's.
    bool slotTaken_ = false;
};

// The tool's one registry, alive from before the program entry to after it.
extern CKesBat KesBat;

#endif
