#include "Kes_bat_data.h"

#include <climits>
#include <cstdlib>
#include <memory>

#include "Handles.h"
#include "PathText.h"

CKesBat KesBat;

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

bool CKesBat::IsUnicode(int index) const {
    const TPluginList* e = Entry(index);
    return e && e->Unicode;
}

bool CKesBat::PrepareWrite(int index) {
    const TPluginList* e = Entry(index);
    if (e == nullptr || !slot_.Load(e->Path)) return false;
    if (!slot_.BindWriteComment()) {
        slot_.Unload();
        return false;
    }
    slot_.BindWriteCommentW();
    writePrepared_ = true;
    return true;
}

void CKesBat::ReleasePlugin() {
    writePrepared_ = false;
    slot_.Unload();
}

int CKesBat::WriteOneFile(HWND window, const TFilePath& path, const std::wstring& comment) {
    // A plug-in of the code page gets names and texts that lead exactly to
    // this file and this comment, or nothing.
    std::string ansiPath, ansiComment;
    const bool unicode = slot_.HasWriteCommentW();
    if (!unicode && (!path.ToAnsi(ansiPath) || !ExactText(comment, ansiComment))) return ErrNotInCodePage;
    const std::wstring win32 = path.Win32();

    std::unique_ptr<BYTE, decltype(&std::free)> buffer(nullptr, &std::free);
    DWORD size = 0;
    {
        // Others may read the file meanwhile, but nobody may be writing it:
        // the plug-in is about to rewrite it from what we read now.
        CFileHandle file(CreateFileW(win32.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.IsOpen()) return ErrOpenRead;

        // 64 bits: a 32-bit seek would report a large file's size modulo
        // 4 GiB, and the plug-in would write back a truncated copy.
        LARGE_INTEGER end{};
        const LARGE_INTEGER zero{};
        if (!SetFilePointerEx(file.Get(), zero, &end, FILE_END) ||
            !SetFilePointerEx(file.Get(), zero, nullptr, FILE_BEGIN))
            return ErrOpenRead;
        // Plug-ins may take the size as a signed 32-bit value.
        if (end.QuadPart > INT_MAX) return ErrNoMemory;
        size = static_cast<DWORD>(end.QuadPart);

        // One byte more, so that an empty file still has a valid pointer.
        // malloc rather than new[]: a buffer of INT_MAX + 1 bytes is more
        // than an array may have, but the process can hold it.
        buffer.reset(static_cast<BYTE*>(std::malloc(size_t{size} + 1)));
        if (!buffer) return ErrNoMemory;

        DWORD read = 0;
        const BOOL ok = ReadFile(file.Get(), buffer.get(), size, &read, nullptr);
        // Closed before anything else: the plug-in must be free to rewrite it.
        file.Close();
        // A short read would hand the plug-in bytes that were never in the
        // file, and it would write them back.
        if (!ok || read != size) return ErrOpenRead;
    }
    if (unicode) return slot_.CallWriteCommentW(window, win32, buffer.get(), size, comment);
    return slot_.CallWriteComment(window, ansiPath, buffer.get(), size, ansiComment);
}

bool CKesBat::ShowPluginDialog(HWND window, int index, int mode) {
    // A run writes through the module in the slot until it releases it;
    // loading a dialog's module there would hand the run's next files to
    // another plug-in.
    if (writePrepared_) return false;
    const TPluginList* e = Entry(index);
    if (e == nullptr || !slot_.Load(e->Path)) return false;
    if (slot_.BindConfigurationDlg() == 0) {
        slot_.Unload();
        return false;
    }
    return slot_.CallConfigurationDlg(window, mode) == 0;
}
