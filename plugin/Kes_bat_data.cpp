#include "Kes_bat_data.h"

#include "Handles.h"
#include "PathText.h"

CKesBat KesBat;

namespace {

// Empty contents still reach a plug-in as a valid pointer, as the
// interface promises.
const void* Handed(std::string_view contents) { return contents.empty() ? "" : contents.data(); }

}  // namespace

bool CKesBat::ScanDirectory(const TFilePath& directory, const std::wstring& mask) {
    int accepted = 0;
    CFindFile search(directory.Win32(), mask);
    if (search.Found()) {
        do {
            const WIN32_FIND_DATAW& entry = search.Data();
            if (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | kFileAttributeVolumeLabel))
                continue;
            if (AddPlugin(directory.Child(entry.cFileName))) ++accepted;
        } while (search.Next());
    }
    return accepted >= 1;
}

bool CKesBat::AddPlugin(const TFilePath& path) {
    if (!slot_.Load(path)) return false;
    if (!slot_.BindGetPluginInfo() || slot_.BindConfigurationDlg() == 0) {
        slot_.Unload();
        return false;
    }
    TPluginList entry;
    entry.Path = path;
    entry.Info = slot_.GetInfo(InfoVersion);
    entry.Patterns = slot_.GetInfo(InfoPatterns);
    if (!entry.Patterns.empty())
        CharLowerBuffA(&entry.Patterns[0], static_cast<DWORD>(entry.Patterns.size()));
    entry.Description = slot_.GetInfo(InfoDescription);
    // A second query, kept even when it differs from the first: the first
    // only decides whether the module is usable at all.
    entry.Flags = slot_.CallConfigurationDlg(nullptr, ModeQuery);
    entry.Unicode = slot_.HasExport("WriteCommentW");
    entry.Reads = entry.Unicode && slot_.HasExport("ReadCommentW");
    entry.Plans = slot_.HasPlanExports();
    plugins_.push_back(std::move(entry));
    return true;
}

int CKesBat::Count() const { return static_cast<int>(plugins_.size()); }

const TPluginList* CKesBat::Entry(int index) const {
    // Compared unsigned, so that every negative index is out of range too.
    if (static_cast<unsigned>(index) >= plugins_.size()) return nullptr;
    return &plugins_[static_cast<unsigned>(index)];
}

std::string CKesBat::GetPatterns(int index) const {
    const TPluginList* e = Entry(index);
    return e ? e->Patterns : std::string();
}

std::string CKesBat::GetDescription(int index) const {
    const TPluginList* e = Entry(index);
    return e ? e->Description : std::string();
}

int CKesBat::GetFlags(int index) const {
    const TPluginList* e = Entry(index);
    return e ? e->Flags : 0;
}

TFilePath CKesBat::GetModulePath(int index) const {
    const TPluginList* e = Entry(index);
    return e ? e->Path : TFilePath();
}

bool CKesBat::IsUnicode(int index) const {
    const TPluginList* e = Entry(index);
    return e && e->Unicode;
}

bool CKesBat::CanRead(int index) const {
    const TPluginList* e = Entry(index);
    return e && e->Reads;
}

bool CKesBat::CanPlan(int index) const {
    const TPluginList* e = Entry(index);
    return e && e->Plans;
}

bool CKesBat::PrepareWrite(int index) {
    const TPluginList* e = Entry(index);
    if (e == nullptr || !slot_.Load(e->Path)) return false;
    if (!slot_.BindWriteComment()) {
        slot_.Unload();
        return false;
    }
    if (slot_.BindWriteCommentW() && slot_.BindReadCommentW()) slot_.BindPlans();
    slotTaken_ = true;
    return true;
}

bool CKesBat::PrepareRead(int index) {
    const TPluginList* e = Entry(index);
    if (e == nullptr || !e->Reads || !slot_.Load(e->Path)) return false;
    if (!slot_.BindReadCommentW()) {
        slot_.Unload();
        return false;
    }
    slot_.BindPlans();
    slotTaken_ = true;  // the slot is the preview's until released
    return true;
}

void CKesBat::ReleasePlugin() {
    slotTaken_ = false;
    slot_.Unload();
}

// ERROR_CLOUD_FILE_PROVIDER_NOT_RUNNING, which these headers predate: a
// placeholder of a cloud drive whose sync client is not running.
constexpr DWORD kCloudProviderNotRunning = 362;

bool HandedToPlugin(int result) {
    switch (result) {
        case ErrOpenRead:
        case ErrNoMemory:
        case ErrNotInCodePage:
        case ErrNameNotPlain:
        case ErrHeld:
        case ErrAccessDenied:
        case ErrDiskFull:
        case ErrCloudNotRunning: return false;
    }
    return true;
}

int FailureOf(DWORD error, int otherwise) {
    switch (error) {
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION: return ErrHeld;
        case ERROR_ACCESS_DENIED: return ErrAccessDenied;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return ErrDiskFull;
        case kCloudProviderNotRunning: return ErrCloudNotRunning;
    }
    return otherwise;
}

int ReadForPlugin(const TFilePath& path, TFileContents& contents, kes::CHeldRetry& retry) {
    TReadResult read = TReadResult::OpenOrReadFailed;
    const DWORD error = retry.Run([&]() -> DWORD {
        read = ReadWholeFile(path.Win32(), contents);
        return read == TReadResult::OpenOrReadFailed ? GetLastError() : ERROR_SUCCESS;
    });
    switch (read) {
        case TReadResult::Read: return 0;
        case TReadResult::NoMemory: return ErrNoMemory;
        case TReadResult::OpenOrReadFailed: break;
    }
    return FailureOf(error, ErrOpenRead);
}

int CKesBat::WriteOneFile(HWND window, const TFilePath& path, const std::wstring& comment) {
    TFileContents contents;
    kes::CHeldRetry retry;
    return WriteOneFile(window, path, comment, contents, retry);
}

int CKesBat::WriteOneFile(HWND window, const TFilePath& path, const std::wstring& comment,
                          TFileContents& contents, kes::CHeldRetry& retry) {
    // A plug-in of the code page gets names and texts that lead exactly to
    // this file and this comment, or nothing.
    std::string ansiPath, ansiComment;
    const bool unicode = slot_.HasWriteCommentW();
    if (!unicode && !path.KeptByWin32()) return ErrNameNotPlain;
    if (!unicode && (!path.ToAnsi(ansiPath) || !ExactText(comment, ansiComment))) return ErrNotInCodePage;
    const std::wstring win32 = path.Win32();
    // Read and closed before the call: the plug-in must be free to rewrite it.
    if (const int unread = ReadForPlugin(path, contents, retry)) return unread;
    if (unicode) return slot_.CallWriteCommentW(window, win32, contents.Data.get(), contents.Size, comment);
    return slot_.CallWriteComment(window, ansiPath, contents.Data.get(), contents.Size, ansiComment);
}

int CKesBat::ReadComment(const TFilePath& path, std::string_view contents, std::optional<std::wstring>& comment) {
    if (!slot_.HasReadCommentW()) return CpiUnexpected;
    return slot_.CallReadCommentW(path.Win32(), Handed(contents), static_cast<DWORD>(contents.size()), comment);
}

int CKesBat::PlanFile(const TFilePath& path, std::string_view contents, const std::wstring& comment,
                      TFilePlan& plan) {
    plan = TFilePlan();
    if (!slot_.HasPlans()) return CpiUnexpected;
    // On the heap, so that ReleasePlanW gets the very CpiPlan that
    // PlanCommentW filled in, wherever the caller moves the plan.
    auto answered = std::make_unique<CpiPlan>();
    answered->size = sizeof(CpiPlan);
    const int result = slot_.CallPlanCommentW(path.Win32(), Handed(contents), static_cast<DWORD>(contents.size()),
                                              comment, *answered);
    if (result != CpiWritten) return result;  // a refusal holds nothing to give back
    return TFilePlan::Adopt(slot_, std::move(answered), contents, plan);
}

int CKesBat::ReadBytes(std::string_view contents, std::optional<std::wstring>& comment) {
    if (!slot_.HasPlans()) return CpiUnexpected;
    return slot_.CallReadCommentBytesW(Handed(contents), static_cast<DWORD>(contents.size()), comment);
}

bool CKesBat::ShowPluginDialog(HWND window, int index, int mode) {
    // A run writes through the module in the slot until it releases it;
    // loading a dialog's module there would hand the run's next files to
    // another plug-in.
    if (slotTaken_) return false;
    const TPluginList* e = Entry(index);
    if (e == nullptr || !slot_.Load(e->Path)) return false;
    if (slot_.BindConfigurationDlg() == 0) {
        slot_.Unload();
        return false;
    }
    return slot_.CallConfigurationDlg(window, mode) == 0;
}
