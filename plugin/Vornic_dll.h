// The library slot: holds at most one plug-in module and the entry points
// resolved from it, and makes every call into a plug-in. It decides nothing:
// it reports success or failure and leaves unloading after a failure to the
// registry that owns it.
#ifndef KESTRANE_VORNIC_DLL_H
#define KESTRANE_VORNIC_DLL_H

#include <optional>
#include <string>

#include "FilePath.h"
#include "cpi.h"

class CVornicDLL {
public:
    CVornicDLL() = default;
    CVornicDLL(const CVornicDLL&) = delete;
    CVornicDLL& operator=(const CVornicDLL&) = delete;
    ~CVornicDLL();

    // Releases the held module, then loads path. False leaves the slot empty.
    bool Load(const TFilePath& path);
    // Releases the held module; its entry points are gone with it.
    void Unload();
    bool Loaded() const { return ModuleHandle != nullptr; }

    // Each bind resolves its export. An entry point may be called only after
    // its own bind has succeeded since the last Load.
    bool BindGetPluginInfo();   // also requires info 0 to read "CPI1"
    bool BindWriteComment();
    // The optional Unicode write and read; false for a plug-in without them.
    bool BindWriteCommentW();
    bool BindReadCommentW();
    // The plan exports, all three or none, and only from a module that also
    // exports WriteCommentW and ReadCommentW; false binds none.
    bool BindPlans();
    bool HasPlanExports() const;  // whether BindPlans would bind them
    // Whether the loaded module exports this name. Looking an export up
    // calls nothing in the plug-in.
    bool HasExport(const char* name) const;
    int BindConfigurationDlg(); // the capability flags, or 0 for failure

    std::string GetInfo(int number);
    int CallWriteComment(HWND window, const std::string& path, const void* contents,
                         DWORD size, const std::string& comment);
    int CallWriteCommentW(HWND window, const std::wstring& path, const void* contents,
                          DWORD size, const std::wstring& comment);
    bool HasWriteCommentW() const { return WriteCommentW != nullptr; }
    bool HasReadCommentW() const { return ReadCommentW != nullptr; }
    // ReadCommentW's result; on 0, the comment, or nothing for none.
    int CallReadCommentW(const std::wstring& path, const void* contents, DWORD size,
                         std::optional<std::wstring>& comment);
    bool HasPlans() const { return PlanCommentW != nullptr; }
    // PlanCommentW's result; `plan` comes in with only its size set.
    int CallPlanCommentW(const std::wstring& path, const void* contents, DWORD size, const std::wstring& comment,
                         CpiPlan& plan);
    void CallReleasePlanW(CpiPlan& plan);
    // As CallReadCommentW, from the bytes alone.
    int CallReadCommentBytesW(const void* contents, DWORD size, std::optional<std::wstring>& comment);
    int CallConfigurationDlg(HWND window, int mode);
    // Counts the loads: a plan is given back only to the very load of the
    // module that made it, never to a later one, even of the same file.
    unsigned Generation() const { return LoadCount; }

private:
    HMODULE ModuleHandle = nullptr;
    TGetPluginInfo GetPluginInfo = nullptr;
    TIsSupported IsSupported = nullptr;  // part of the interface; never resolved here
    TGetComment GetComment = nullptr;    // part of the interface; never resolved here
    TWriteComment WriteComment = nullptr;
    TConfigurationDlg ConfigurationDlg = nullptr;
    TWriteCommentW WriteCommentW = nullptr;  // the optional extensions
    TReadCommentW ReadCommentW = nullptr;
    TPlanCommentW PlanCommentW = nullptr;
    TReleasePlanW ReleasePlanW = nullptr;
    TReadCommentBytesW ReadCommentBytesW = nullptr;
    unsigned LoadCount = 0;
};

#endif
