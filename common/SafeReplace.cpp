#include "SafeReplace.h"

#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <bcrypt.h>

#include "AccessOfFile.h"
#include "Handles.h"
#include "WholeFile.h"

namespace kes {
namespace {

// The target's attributes that a new file takes on when it is created
// (read-only files never get this far).
constexpr DWORD kCreatableAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                       FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_OFFLINE |
                                       FILE_ATTRIBUTE_TEMPORARY;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr size_t kLongestPath = 32768;

// The folder of the target, where the temporary file goes, since
// ReplaceFileW needs both on one volume.
std::wstring Hex16(uint64_t value) {
    std::wstring text(16, L'0');
    for (size_t i = text.size(); i-- > 0; value >>= 4) text[i] = L"0123456789ABCDEF"[value & 15];
    return text;
}

TFilePath FolderOf(const TFilePath& path) {
    const TFilePath folder = path.Folder();
    return folder.Empty() ? TFilePath(L".\\") : folder;
}

// The system's name of an open file or folder: its device or drive and
// its path there, with every link on the way followed. Not
// GetFinalPathNameByHandleW, which fails under Wine past MAX_PATH, nor
// FileNameInfo, which gives no drive, so that a link to a file on another
// drive with the same path there would pass.
std::optional<std::wstring> ObjectName(HANDLE h) {
    std::vector<char> buffer(sizeof(OBJECT_NAME_INFORMATION) + kLongestPath * sizeof(wchar_t));
    auto* info = reinterpret_cast<OBJECT_NAME_INFORMATION*>(buffer.data());
    ULONG size = 0;
    if (NtQueryObject(h, ObjectNameInformation, info, static_cast<ULONG>(buffer.size()), &size) != 0)
        return std::nullopt;
    return std::wstring(info->Name.Buffer, info->Name.Length / sizeof(wchar_t));
}

// What the replace looks at of an open file, in the two calls that give it.
struct FileFacts {
    uint64_t size, modified;
    DWORD links, attributes;
};

std::optional<FileFacts> FactsOf(HANDLE h) {
    FILE_STANDARD_INFO standard;
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandleEx(h, FileStandardInfo, &standard, sizeof standard) ||
        !GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic))
        return std::nullopt;
    return FileFacts{static_cast<uint64_t>(standard.EndOfFile.QuadPart),
                     static_cast<uint64_t>(basic.LastWriteTime.QuadPart), standard.NumberOfLinks,
                     basic.FileAttributes};
}

// A name as Wine's object names give it: without the dots and blanks at
// its end, which Wine drops ("album." comes back as "album").
std::wstring_view Bare(std::wstring_view name) {
    while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) name.remove_suffix(1);
    return name;
}

// Two paths name by name, each without its trailing dots and blanks, case
// counting. Where that loses a difference, another way to the same file
// through twins (below) is refused.
bool SameBarePath(std::wstring_view a, std::wstring_view b) {
    for (;;) {
        const size_t ea = std::min(a.find(L'\\'), a.size()), eb = std::min(b.find(L'\\'), b.size());
        if (Bare(a.substr(0, ea)) != Bare(b.substr(0, eb))) return false;
        if (ea == a.size() || eb == b.size()) return ea == a.size() && eb == b.size();
        a.remove_prefix(ea + 1);
        b.remove_prefix(eb + 1);
    }
}

// The twins of a folder's names: other entries that are the same name but
// for their trailing dots and blanks ("album" and "album."). Under Wine a
// link to a twin is named as the twin and shows no reparse point, so that
// only the twin tells it. A folder is listed once in a while, not for every
// file written into it: a listing costs as much as a search of the whole
// folder.
class CTwins {
public:
    std::vector<std::wstring> Of(const std::wstring& folder, const std::wstring& name) {
        const DWORD now = GetTickCount();
        if (listings_.size() > kMaxFolders) listings_.clear();
        Listing& listing = listings_[folder];
        if (!listing.listed || now - listing.at > kFreshMs) listing = Listing{true, now, List(folder)};
        std::vector<std::wstring> twins;
        const auto same = listing.byBare.equal_range(std::wstring(Bare(name)));
        for (auto it = same.first; it != same.second; ++it)
            if (it->second != name) twins.push_back(it->second);
        return twins;
    }

private:
    static constexpr DWORD kFreshMs = 1000;
    static constexpr size_t kMaxFolders = 64;
    struct Listing {
        bool listed = false;
        DWORD at = 0;
        std::multimap<std::wstring, std::wstring> byBare;  // names that have a twin, by their bare name
    };

    static std::multimap<std::wstring, std::wstring> List(const std::wstring& folder) {
        std::multimap<std::wstring, std::wstring> all, twinned;
        CFindFile search(TFilePath(folder).Win32(), L"*");
        if (search.Found()) {
            do {
                const std::wstring name = search.Data().cFileName;
                if (name != L"." && name != L"..") all.emplace(std::wstring(Bare(name)), name);
            } while (search.Next());
        }
        for (const auto& entry : all)
            if (all.count(entry.first) > 1) twinned.insert(entry);
        return twinned;
    }

    std::map<std::wstring, Listing> listings_;
};

// How much of an absolute path is its root: "C:\" or "\\srv\share\".
size_t RootLength(const std::wstring& full) {
    if (full.compare(0, 2, L"\\\\") != 0) return std::min<size_t>(3, full.size());
    const size_t server = full.find(L'\\', 2);
    const size_t share = server == std::wstring::npos ? server : full.find(L'\\', server + 1);
    return share == std::wstring::npos ? full.size() : share + 1;
}

// The path from its drive or share, then each folder it lies in up to the
// root's own names: one level for each name below the root.
std::vector<TFilePath> Levels(const TFilePath& path) {
    std::wstring full = path.Absolute().Text();
    const size_t root = RootLength(full);
    std::vector<TFilePath> levels;
    while (full.size() > root) {
        if (full.back() == L'\\') full.pop_back();
        levels.emplace_back(full);
        full = levels.back().Folder().Text();
    }
    return levels;
}

// A file's number on its volume.
std::optional<uint64_t> FileNumber(HANDLE h) {
    struct {
        LARGE_INTEGER IndexNumber;
    } internal{};
    constexpr auto kFileInternalInformation = static_cast<FILE_INFORMATION_CLASS>(6);
    IO_STATUS_BLOCK status;
    if (NtQueryInformationFile(h, &status, &internal, sizeof internal, kFileInternalInformation) != 0)
        return std::nullopt;
    return static_cast<uint64_t>(internal.IndexNumber.QuadPart);
}

// Whether a path that is the same as `path` but for trailing dots and
// blanks somewhere, through twins, leads to the file numbered `number`.
// Under Wine a link whose target is such a path is named as its target,
// and nothing else tells it from the file: two ways to one file are
// refused, whichever is the link. Without twins on the way, nothing is
// opened.
bool OtherWayReaches(const TFilePath& path, uint64_t number) {
    static CTwins twins;
    const std::vector<TFilePath> levels = Levels(path);
    // From the root down: each name as it is, or one of its twins.
    const std::function<bool(const std::wstring&, size_t, bool)> search = [&](const std::wstring& folder,
                                                                              size_t level, bool other) {
        const std::wstring name = levels[level - 1].Name();
        std::vector<std::wstring> names = twins.Of(folder, name);
        names.push_back(name);
        for (const std::wstring& each : names) {
            const bool differs = other || each != name;
            const std::wstring at = folder + each;
            if (level > 1) {
                if (search(at + L'\\', level - 1, differs)) return true;
                continue;
            }
            if (!differs) continue;
            CFileHandle h(CreateFileW(TFilePath(at).Win32().c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
            // One that cannot be told is taken for the same file.
            if (h.IsOpen() && FileNumber(h.Get()).value_or(number) == number) return true;
        }
        return false;
    };
    return !levels.empty() && search(levels.back().Folder().Text(), levels.size(), false);
}

// No other way to the open file, but for its path's own names.
bool OnlyWay(HANDLE h, const TFilePath& path) {
    const std::optional<uint64_t> number = FileNumber(h);
    return number && !OtherWayReaches(path, *number);
}

// Whether the open file, of which `facts` were read, is reached by this
// name alone. A file with further
// names would keep the old contents under them, and a link would become a
// plain file. Under Wine a symbolic link shows no reparse point and a
// handle opened through it is the file it leads to, named as that file:
// so the file's name must be its folder's own name followed by the very
// name handed in. A link named like its target ("view\\song.jpg" to
// "lib\\song.jpg", or "case.jpg" to "Case.jpg") differs in the folder or in
// case, which a comparison of the last name alone, without case, missed:
// the replace then moved the target away and deleted it. A link to a
// target that differs only in trailing dots or blanks ("song.jpg" to
// "song.jpg.", "view\\song.jpg" to "view.\\song.jpg") looks like its
// target under Wine, which drops them from the names it gives: a file that
// such a twin of its path also reaches is refused.
bool SoleName(HANDLE h, const FileFacts& facts, const TFilePath& path) {
    if (facts.links != 1 || (facts.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
    CFileHandle folder(CreateFileW(FolderOf(path).Win32().c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder.IsOpen()) return false;
    const std::optional<std::wstring> file = ObjectName(h), inFolder = ObjectName(folder.Get());
    return file && inFolder &&
           SameBarePath(*file, TFilePath(*inFolder).WithTrailingDelimiter().Child(path.Name()).Text()) &&
           OnlyWay(h, path);
}

// What the replace must keep of the original, as found just before it.
// Its descriptor is nothing on a volume that keeps none.
struct Original {
    uint64_t size, modified;
    std::optional<access::Descriptor> security;
};

// Deletes the original from the backup name, opened as the name itself
// rather than what it may lead to, and only while it still has the
// original's size and time: a rename keeps them. (Not its file number,
// which FAT derives from the name's place in the folder.) The error that
// stopped it, ERROR_SUCCESS once deleted.
DWORD DeleteOriginal(const TFilePath& backup, const Original& original) {
    CFileHandle h(CreateFileW(backup.Win32().c_str(), DELETE | FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!h.IsOpen()) return GetLastError();
    const std::optional<FileFacts> facts = FactsOf(h.Get());
    if (!facts || facts->size != original.size || facts->modified != original.modified) return ERROR_FILE_INVALID;
    FILE_DISPOSITION_INFO dispose{TRUE};
    return SetFileInformationByHandle(h.Get(), FileDispositionInfo, &dispose, sizeof dispose) ? ERROR_SUCCESS
                                                                                              : GetLastError();
}

// Whether the target is still the file the plug-in was handed, alone, just
// before the replace. It is opened without sharing, so that a program that
// holds it open in any way makes this fail: ReplaceFileW alone would
// replace a file held with FILE_SHARE_DELETE, from under that program.
// `error` gets the system's reason where the open failed.
WriteResult StillAsSeen(const TFilePath& path, const WIN32_FILE_ATTRIBUTE_DATA& seen, std::optional<Original>& original,
                        DWORD& error) {
    CFileHandle h(CreateFileW(path.Win32().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    error = h.IsOpen() ? ERROR_SUCCESS : GetLastError();
    if (!h.IsOpen()) return kFileFailed;
    const std::optional<FileFacts> facts = FactsOf(h.Get());
    if (!facts || !SoleName(h.Get(), *facts, path)) return kFileFailed;
    const uint64_t seenSize = Join64(seen.nFileSizeHigh, seen.nFileSizeLow);
    const uint64_t seenTime = Join64(seen.ftLastWriteTime);
    if (facts->size != seenSize || facts->modified != seenTime) return kChangedElsewhere;
    original = Original{seenSize, seenTime, access::DescriptorOf(h.Get())};
    return kWritten;
}

// Gives the file at `path` the original's owner, where the process may:
// itself, a group it may own, or any account when elevated. Opened for
// that alone, so that a folder whose list grants no WRITE_OWNER costs the
// owner, which the decision then judges, and not the write.
void GiveOwner(const TFilePath& path, const std::optional<access::Descriptor>& original) {
    // A file of the caller's own already has its owner: the temporary file
    // was given the same. Wine keeps no owner it is given (it answers
    // success, and the file keeps its Unix owner), so there the open would
    // be for nothing.
    if (!original || original->owner.empty() || original->owner == access::DefaultOwner() || access::UnderWine())
        return;
    CFileHandle h(CreateFileW(path.Win32().c_str(), READ_CONTROL | WRITE_OWNER, kShareAll, nullptr, OPEN_EXISTING, 0,
                              nullptr));
    if (h.IsOpen()) access::SetOwner(h.Get(), original->owner);
}

// Whether `result`, the file as the replace left it, gives the same
// people the same access as the original did (AccessDecision.h).
bool AccessKept(const std::optional<access::Descriptor>& original, HANDLE result) {
    return access::Accepted(access::Decide(original, access::DescriptorOf(result), access::CurrentCaller()));
}

// After the replace, the original stands under the backup name. Windows'
// ReplaceFileW keeps the original's access list, and the owner the
// replacement was given where the process could set it; Wine's keeps
// neither: the result has the temporary file's Unix mode and owner, so a
// private 0600 file would come out readable by everyone, and one of
// another user's would become ours. Setting the original's access list on
// the temporary file does not help there: Wine turns it into a mode that
// also opens the file to the group. So the result is judged against the
// original, and where it would give anyone other access, or another owner
// than the caller may become, the original is put back by a rename, which
// keeps everything it had. Only then is the backup deleted.
WriteResult Settle(const TFilePath& path, const TFilePath& backup, const Original& original, CHeldRetry& retry,
                   std::optional<uint64_t>* fileNumber) {
    CFileHandle result(CreateFileW(path.Win32().c_str(), READ_CONTROL, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
    const bool kept = result.IsOpen() && AccessKept(original.security, result.Get());
    if (fileNumber) *fileNumber = result.IsOpen() ? FileNumber(result.Get()) : std::nullopt;
    result.Close();
    if (!kept)
        return MoveFileExW(backup.Win32().c_str(), path.Win32().c_str(), MOVEFILE_REPLACE_EXISTING) ? kFileFailed
                                                                                                    : kBackupLeft;
    return retry.Run([&] { return DeleteOriginal(backup, original); }) == ERROR_SUCCESS ? kWritten : kBackupLeft;
}

}  // namespace

WriteResult CheckAttributes(DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_READONLY) return kReadOnly;
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) return kFileFailed;
    return kWritten;
}

WriteResult CheckTarget(const TFilePath& path, size_t handedSize, WIN32_FILE_ATTRIBUTE_DATA& seen) {
    if (!GetFileAttributesExW(path.Win32().c_str(), GetFileExInfoStandard, &seen)) return kFileFailed;
    if (const WriteResult refused = CheckAttributes(seen.dwFileAttributes)) return refused;
    if (Join64(seen.nFileSizeHigh, seen.nFileSizeLow) != handedSize) return kChangedElsewhere;
    return kWritten;
}

std::optional<std::wstring> CFolderNames::Of(const TFilePath& folder) {
    const auto known = names_.find(folder.Text());
    if (known != names_.end()) return known->second;
    CFileHandle h(CreateFileW(folder.Win32().c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return names_[folder.Text()] = h.IsOpen() ? ObjectName(h.Get()) : std::nullopt;
}

bool ReachedWithoutLinks(HANDLE h, const TFilePath& path, CFolderNames& folders) {
    // Each name must be its folder's own entry, up to the root: a link
    // anywhere on the way makes a name the system gives differ from the
    // path's.
    std::optional<std::wstring> name = ObjectName(h);
    for (const TFilePath& level : Levels(path)) {
        const std::optional<std::wstring> folderName = folders.Of(level.Folder());
        if (!name || !folderName ||
            !SameBarePath(*name, TFilePath(*folderName).WithTrailingDelimiter().Child(level.Name()).Text()))
            return false;
        name = folderName;
    }
    return OnlyWay(h, path);
}

bool SecurityDiffers(const TFilePath& result, const TFilePath& original) {
    const auto open = [](const TFilePath& path) {
        return CFileHandle(
            CreateFileW(path.Win32().c_str(), READ_CONTROL, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
    };
    const CFileHandle first = open(result), second = open(original);
    return !first.IsOpen() || !second.IsOpen() || !AccessKept(access::DescriptorOf(second.Get()), first.Get());
}

WriteResult CheckSoleName(const TFilePath& path) {
    CFileHandle h(
        CreateFileW(path.Win32().c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!h.IsOpen()) return kFileFailed;
    const std::optional<FileFacts> facts = FactsOf(h.Get());
    return facts && SoleName(h.Get(), *facts, path) ? kWritten : kFileFailed;
}

std::wstring TemporaryName(uint64_t token) { return L"kes-" + Hex16(token) + L".tmp"; }
std::wstring BackupName(uint64_t token) { return L"kes-" + Hex16(token) + L".bak"; }

uint64_t NewReplaceToken() {
    uint64_t token = 0;
    // Without the system's random numbers, the clock and the process still
    // keep two replaces apart in practice, and a name in use is refused.
    if (BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&token), sizeof token, BCRYPT_USE_SYSTEM_PREFERRED_RNG) < 0) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        token = static_cast<uint64_t>(now.QuadPart) ^ uint64_t{GetCurrentProcessId()} << 40;
    }
    return token != 0 ? token : 1;
}

CReplacement::CReplacement(const TFilePath& target, uint64_t token, DWORD attributes)
    : target_(target),
      path_(FolderOf(target).WithTrailingDelimiter().Child(TemporaryName(token))),
      backup_(FolderOf(target).WithTrailingDelimiter().Child(BackupName(token))) {
    // The name is made once, from the token a journal may already hold: a
    // name in use is no name of ours, and is left alone.
    const DWORD creatable = attributes & kCreatableAttributes;
    file_ = CFileHandle(CreateFileW(path_.Win32().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    creatable != 0 ? creatable : FILE_ATTRIBUTE_NORMAL, nullptr));
    created_ = file_.IsOpen();
}

CReplacement::~CReplacement() {
    file_.Close();
    if (created_ && !kept_) DeleteFileW(path_.Win32().c_str());
}

bool CReplacement::Write(std::string_view bytes) { return WriteAll(file_.Get(), bytes.data(), bytes.size()); }

bool CReplacement::SetTime(const FILETIME& modified) {
    return SetFileTime(file_.Get(), nullptr, nullptr, &modified) != FALSE;
}

namespace {

// Under Wine on Linux, a flush of one file is that file's fsync, which
// makes no other file durable, and Wine has no write-out without a flush.
// Linux's own flush of a volume is syncfs(2): it writes out every file of
// the volume, then flushes the disk's cache, as the flush of a file does on
// Windows. No Win32 call leads to it, so it is reached through Wine's call
// that gives the Unix file behind a handle and the kernel's 32-bit system
// call gate, which a 32-bit Wine process always has; a 64-bit Wine running
// this under WoW64 may run on a kernel without that gate, so there the
// files are flushed one by one. Null where this is not 32-bit Wine on
// Linux.
using TUnixFileOf = LONG(CDECL*)(HANDLE, unsigned int access, int* unixFile, unsigned int* options);

TUnixFileOf LinuxUnderWine() {
#if defined(__i386__)
    static const TUnixFileOf unixFileOf = []() -> TUnixFileOf {
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        using THostVersion = void(CDECL*)(const char** system, const char** release);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wcast-function-type"
        const auto hostVersion = reinterpret_cast<THostVersion>(GetProcAddress(ntdll, "wine_get_host_version"));
        if (hostVersion == nullptr) return nullptr;
        const char* system = nullptr;
        const char* release = nullptr;
        hostVersion(&system, &release);
        BOOL wow64 = FALSE;
        if (system == nullptr || strcmp(system, "Linux") != 0 || !IsWow64Process(GetCurrentProcess(), &wow64) ||
            wow64)
            return nullptr;
        return reinterpret_cast<TUnixFileOf>(GetProcAddress(ntdll, "wine_server_handle_to_fd"));
#pragma GCC diagnostic pop
    }();
    return unixFileOf;
#else
    return nullptr;
#endif
}

#if defined(__i386__)
// i386 system call numbers.
constexpr long kClose = 6, kFstat64 = 197, kSyncFs = 344;

long LinuxCall(long number, long first, long second = 0) {
    long result;
    __asm__ volatile("int $0x80" : "=a"(result) : "a"(number), "b"(first), "c"(second) : "memory");
    return result;
}

// The Unix file behind `file` for `use`, closed after it; false when Wine
// cannot give it or `use` fails.
template <class TUse>
bool WithUnixFile(TUnixFileOf unixFileOf, HANDLE file, const TUse& use) {
    // The Unix file Wine gives is a copy of its own, ours to close.
    int unixFile = -1;
    unsigned int options = 0;
    if (unixFileOf(file, 0, &unixFile, &options) != 0) return false;
    const bool done = use(unixFile);
    LinuxCall(kClose, unixFile);
    return done;
}
#endif

}  // namespace

std::optional<uint64_t> FlushGroupOf(HANDLE file, std::optional<uint32_t> volumeSerial) {
#if defined(__i386__)
    if (const TUnixFileOf unixFileOf = LinuxUnderWine()) {
        // An i386 struct stat64 begins with the device, in 64 bits.
        alignas(8) unsigned char status[144] = {};
        uint64_t device = 0;
        const bool known = WithUnixFile(unixFileOf, file, [&](int unixFile) {
            return LinuxCall(kFstat64, unixFile, reinterpret_cast<long>(status)) == 0;
        });
        if (!known) return std::nullopt;
        memcpy(&device, status, sizeof device);
        return device;
    }
#endif
    return volumeSerial;
}

bool FlushVolume(HANDLE file) {
#if defined(__i386__)
    if (const TUnixFileOf unixFileOf = LinuxUnderWine())
        return WithUnixFile(unixFileOf, file, [](int unixFile) { return LinuxCall(kSyncFs, unixFile) == 0; });
#endif
    return FlushFileBuffers(file) != FALSE;
}

bool CReplacement::WriteOut() {
    // Under Wine on Linux the volume's syncfs writes this file out with
    // every other.
    if (LinuxUnderWine() != nullptr) return true;
    // FLUSH_FLAGS_NO_SYNC: data and metadata go to the disk without the
    // flush of its cache (Windows 8 on, NTFS, FAT and exFAT), and the
    // group's one flush then makes them all durable. Where the call is
    // missing or refused, false: the file is flushed on its own.
    using TNtFlushBuffersFileEx = LONG(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PIO_STATUS_BLOCK);
    static const TNtFlushBuffersFileEx flushEx = [] {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wcast-function-type"
        return access::UnderWine() ? nullptr
                                   : reinterpret_cast<TNtFlushBuffersFileEx>(
                                         GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtFlushBuffersFileEx"));
#pragma GCC diagnostic pop
    }();
    constexpr ULONG kNoSync = 0x2;
    IO_STATUS_BLOCK status;
    return flushEx != nullptr && flushEx(file_.Get(), kNoSync, nullptr, 0, &status) == 0;
}

bool CReplacement::Flush() { return FlushFileBuffers(file_.Get()) != FALSE; }

WriteResult CReplacement::Replace(const WIN32_FILE_ATTRIBUTE_DATA& seen, CHeldRetry& retry,
                                  std::optional<uint64_t>* fileNumber) {
    file_.Close();
    std::optional<Original> original;
    WriteResult state = kFileFailed;
    bool ownerGiven = false;
    // A program that opens the target between the look and the replace
    // makes the replace fail as held: both are tried again, so that the
    // file is looked at anew after whatever that program did.
    error_ = retry.Run([&]() -> DWORD {
        DWORD error = ERROR_SUCCESS;
        if ((state = StillAsSeen(target_, seen, original, error)) != kWritten) return error;
        // Settle tells whether the result may stay with the owner it ends
        // up with.
        if (!ownerGiven) GiveOwner(path_, original->security);
        ownerGiven = true;
        // With a backup name, no failure of ReplaceFileW loses the
        // original: it keeps its name, or after
        // ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 it has the backup name and is
        // moved back. Without one, a failure may come after the original
        // was already removed.
        if (ReplaceFileW(target_.Win32().c_str(), path_.Win32().c_str(), backup_.Win32().c_str(), 0, nullptr,
                         nullptr))
            return ERROR_SUCCESS;
        state = kFileFailed;
        error = GetLastError();
        if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) MoveFileExW(backup_.Win32().c_str(), target_.Win32().c_str(), 0);
        return error;
    });
    if (state != kWritten) return state;
    kept_ = true;
    return Settle(target_, backup_, *original, retry, fileNumber);
}

WriteResult ReplaceContents(const TFilePath& path, const WIN32_FILE_ATTRIBUTE_DATA& seen,
                            const TContentsWriter& contents, const FILETIME* modified) {
    CReplacement replacement(path, NewReplaceToken(), seen.dwFileAttributes);
    // Flushed, so that the replace never exposes a file whose data is not
    // yet on disk.
    if (!replacement.Created() || !contents([&](std::string_view bytes) { return replacement.Write(bytes); }) ||
        (modified && !replacement.SetTime(*modified)) || !replacement.Flush())
        return kFileFailed;
    CHeldRetry retry;
    return replacement.Replace(seen, retry);
}

}  // namespace kes
