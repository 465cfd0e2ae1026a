// Collecting a run's files: each pattern of the plug-in's list in the
// folder, then its subfolders, depth first, as the search delivers them.
#include <cwchar>

#include "Engine.h"
#include "Handles.h"
#include "Kes_bat_data.h"
#include "PathText.h"

namespace {

// A cloud file whose contents are not on this machine: opening or reading
// it makes the cloud client download it first.
// (RECALL_ON_DATA_ACCESS, RECALL_ON_OPEN and OFFLINE; the compiler's
// headers lack the first two names.)
constexpr DWORD kOnlineOnly = 0x400000 | 0x40000 | FILE_ATTRIBUTE_OFFLINE;

// Cloud folders are reparse points whose tag is one of the cloud tags:
// searching them downloads nothing and can lead nowhere else, unlike a link.
bool IsCloudFolder(const WIN32_FIND_DATAW& entry) {
    return (entry.dwReserved0 & 0xFFFF0FFFu) == static_cast<DWORD>(IO_REPARSE_TAG_CLOUD);
}

class TCollector {
public:
    TCollector(TRunEnvironment& environment, const std::wstring& patterns, bool codePageOnly,
               std::deque<TQueuedPath>& into)
        : environment_(environment), patterns_(patterns), codePageOnly_(codePageOnly), into_(into) {}

    bool Folder(const TFilePath& directory, bool subDirs) {
        std::wstring patterns = patterns_;
        const TFilePath dir = directory.WithTrailingDelimiter();
        // An empty item is searched like any other.
        for (;;) {
            const std::wstring::size_type semicolon = patterns.find(L';');
            if (!Search(dir, patterns.substr(0, semicolon), false)) return false;
            if (semicolon == std::wstring::npos) break;
            patterns.erase(0, semicolon + 1);
        }
        return !subDirs || Search(dir, L"*.*", true);
    }

private:
    bool Search(const TFilePath& directory, const std::wstring& pattern, bool dirPass) {
        // Files may be read-only, hidden, system or archived; the directory
        // pass sees directories that are neither hidden nor system. A
        // special attribute (hidden 2, system 4, volume label 8, directory
        // 16) that the filter lacks hides an entry.
        const DWORD filter = dirPass ? FILE_ATTRIBUTE_DIRECTORY
                                     : FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                           FILE_ATTRIBUTE_ARCHIVE;
        constexpr DWORD special =
            FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | kFileAttributeVolumeLabel | FILE_ATTRIBUTE_DIRECTORY;
        CFindFile search(directory.Win32(), pattern);
        if (!search.Found()) {
            // Nothing matched, or the folder could not be searched at all
            // (access denied, vanished): the user must hear of the second,
            // or "include subfolders" silently does nothing.
            if (search.Error() != ERROR_FILE_NOT_FOUND) QueueUnwritable(directory, TQueued::Unsearchable);
            return true;
        }
        std::string codePageName;
        do {
            const WIN32_FIND_DATAW& entry = search.Data();
            const DWORD attributes = environment_.EntryAttributes(entry);
            if ((attributes & ~filter & special) != 0) continue;
            if (environment_.EscapePressed()) return false;
            const wchar_t* name = entry.cFileName;
            if (std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0) continue;
            // A plug-in of the code page can only be handed names the code
            // page holds exactly; another name would lead it to another file
            // ("¥" comes out as "\") or be a wildcard ("?"). The same for a
            // name that the plain form of a path, all such a plug-in takes,
            // would change.
            const TQueued unwritable = !codePageOnly_                   ? TQueued::Write
                                       : !TFilePath::KeptByWin32(name) ? TQueued::NameNotPlain
                                       : !ExactName(name, codePageName) ? TQueued::NotInCodePage
                                                                        : TQueued::Write;
            // Read-only, archive, compressed or not-indexed folders are
            // ordinary folders to the user; links and junctions are not
            // followed, so that no tree loops. Listing a cloud folder
            // downloads nothing.
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT) || IsCloudFolder(entry))) {
                if (unwritable != TQueued::Write)
                    QueueUnwritable(directory.Child(name).WithTrailingDelimiter(), unwritable);
                else if (!Folder(directory.Child(name), true))
                    return false;
            } else if (!dirPass) {
                into_.push_back({directory.Child(name), (attributes & kOnlineOnly) ? TQueued::OnlineOnly : unwritable});
            }
        } while (search.Next());
        return true;
    }

    // Once for each name: every pattern's search of a folder that cannot be
    // searched fails alike.
    void QueueUnwritable(const TFilePath& path, TQueued kind) {
        if (into_.empty() || into_.back().Kind != kind || into_.back().Path != path) into_.push_back({path, kind});
    }

    TRunEnvironment& environment_;
    const std::wstring patterns_;
    const bool codePageOnly_;
    std::deque<TQueuedPath>& into_;
};

}  // namespace

bool CollectFiles(TRunEnvironment& environment, const TFilePath& directory, const std::wstring& patterns,
                  bool subDirs, bool codePageOnly, std::deque<TQueuedPath>& into) {
    into.clear();
    return TCollector(environment, patterns, codePageOnly, into).Folder(directory, subDirs);
}

int QueuedResult(TQueued kind) {
    switch (kind) {
        case TQueued::NotInCodePage: return ErrNotInCodePage;
        case TQueued::NameNotPlain: return ErrNameNotPlain;
        case TQueued::Unsearchable: return ErrUnsearchable;
        default: return 0;
    }
}
