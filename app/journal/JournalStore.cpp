#include "JournalStore.h"

#include <bcrypt.h>
#include <shlobj.h>
#include <winternl.h>

#include <algorithm>
#include <cwchar>

#include "WholeFile.h"

namespace kes::journal {
namespace {

// A run's journal is run-<number as 16 hex digits>.kjo while the run
// writes it, .kjl once it has ended, and .kju once undone: each run takes
// the number after the highest there is, so that names sort by the order
// runs started in, whatever the clock said (a clock set back must not make
// the newest run look the oldest). An undo is one rename. An undo keeps a
// journal of its own replaces, undo-<number>.kjo, only while it works: a
// .kjo left behind is a crash's, which the next start recovers.
constexpr wchar_t kRunPrefix[] = L"run-";
constexpr wchar_t kUndoPrefix[] = L"undo-";
constexpr wchar_t kOpenExtension[] = L".kjo";
constexpr wchar_t kLiveExtension[] = L".kjl";
constexpr wchar_t kUndoneExtension[] = L".kju";
constexpr size_t kIdDigits = 16;
// Another run of the same moment (a second instance) takes the next id.
constexpr int kNameAttempts = 100;

// ReadFile moves at most 4 GiB - 1 per call.
constexpr size_t kMaxIo = size_t{1} << 30;

std::optional<uint64_t> RandomU64() {
    uint64_t value = 0;
    if (BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&value), sizeof value, BCRYPT_USE_SYSTEM_PREFERRED_RNG) < 0)
        return std::nullopt;
    return value;
}

std::wstring Hex16(uint64_t value) {
    std::wstring text(kIdDigits, L'0');
    for (size_t i = kIdDigits; i-- > 0; value >>= 4) text[i] = L"0123456789ABCDEF"[value & 15];
    return text;
}

std::wstring Join(const std::wstring& folder, const std::wstring& name) {
    if (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) return folder + name;
    return folder + L'\\' + name;
}

std::wstring JournalName(const wchar_t* prefix, uint64_t id, const wchar_t* extension) {
    return prefix + Hex16(id) + extension;
}

// The id and state a journal's name gives, or nothing for any other name.
std::optional<RunFile> ParseJournalName(const std::wstring& name, const wchar_t* prefixText) {
    const size_t prefix = std::wcslen(prefixText);
    if (name.size() != prefix + kIdDigits + 4 || name.compare(0, prefix, prefixText) != 0) return std::nullopt;
    RunFile run;
    for (size_t i = prefix; i < prefix + kIdDigits; ++i) {
        const wchar_t c = name[i];
        const int digit = c >= L'0' && c <= L'9' ? c - L'0' : c >= L'A' && c <= L'F' ? c - L'A' + 10 : -1;
        if (digit < 0) return std::nullopt;
        run.id = run.id << 4 | static_cast<unsigned>(digit);
    }
    const std::wstring extension = name.substr(prefix + kIdDigits);
    if (extension != kLiveExtension && extension != kUndoneExtension && extension != kOpenExtension)
        return std::nullopt;
    run.undone = extension == kUndoneExtension;
    run.open = extension == kOpenExtension;
    return run;
}

}  // namespace

std::unique_ptr<FileSource> FileSource::Open(const std::wstring& path) {
    return Adopt(CFileHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr)));
}

std::unique_ptr<FileSource> FileSource::Adopt(CFileHandle file) {
    // Not GetFileInformationByHandle: it also asks for the volume's serial
    // number, which costs Wine half a millisecond a file.
    LARGE_INTEGER size{};
    FILE_BASIC_INFO basic{};
    if (!file.IsOpen() || !GetFileSizeEx(file.Get(), &size) ||
        !GetFileInformationByHandleEx(file.Get(), FileBasicInfo, &basic, sizeof basic))
        return nullptr;
    std::unique_ptr<FileSource> source(new FileSource(std::move(file)));
    source->size_ = static_cast<uint64_t>(size.QuadPart);
    source->lastWriteTime_ = static_cast<uint64_t>(basic.LastWriteTime.QuadPart);
    source->attributes_ = basic.FileAttributes;
    return source;
}

bool FileSource::Read(uint64_t offset, uint8_t* buffer, size_t length) {
    if (offset > size_ || length > size_ - offset) return false;
    while (length != 0) {
        const auto piece = static_cast<DWORD>(std::min(length, kMaxIo));
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD read = 0;
        // A short read means the file is not what it was when opened.
        if (!ReadFile(file_.Get(), buffer, piece, &read, &at) || read != piece) return false;
        buffer += piece;
        offset += piece;
        length -= piece;
    }
    return true;
}

std::optional<FileIdentity> FileIdentities::Of(HANDLE file, const std::wstring& folder) {
    // FileInternalInformation: the file's number on its volume, without the
    // volume query that GetFileInformationByHandle makes every time.
    struct {
        LARGE_INTEGER IndexNumber;
    } internal{};
    constexpr auto kFileInternalInformation = static_cast<FILE_INFORMATION_CLASS>(6);
    IO_STATUS_BLOCK status;
    if (NtQueryInformationFile(file, &status, &internal, sizeof internal, kFileInternalInformation) != 0)
        return std::nullopt;
    auto volume = volumes_.find(folder);
    if (volume == volumes_.end()) {
        DWORD serial = 0;
        if (!GetVolumeInformationByHandleW(file, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0))
            return std::nullopt;
        volume = volumes_.emplace(folder, serial).first;
    }
    return FileIdentity{volume->second, static_cast<uint64_t>(internal.IndexNumber.QuadPart)};
}

std::unique_ptr<TemporaryFile> TemporaryFile::CreateBeside(const std::wstring& target) {
    const size_t slash = target.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? std::wstring() : target.substr(0, slash + 1);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::optional<uint64_t> random = RandomU64();
        if (!random) return nullptr;
        // .tmp: neither the name nor its short form matches a file type a
        // run looks for.
        std::wstring path = folder + L"kes-undo-" + Hex16(*random) + L".tmp";
        CFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                     nullptr));
        if (file.IsOpen()) return std::unique_ptr<TemporaryFile>(new TemporaryFile(std::move(file), std::move(path)));
        if (GetLastError() != ERROR_FILE_EXISTS) return nullptr;
    }
    return nullptr;
}

TemporaryFile::~TemporaryFile() {
    file_.Close();
    if (!released_) DeleteFileW(path_.c_str());
}

bool TemporaryFile::Write(const uint8_t* data, size_t length) {
    return file_.IsOpen() && WriteAll(file_.Get(), data, length);
}

bool TemporaryFile::Finish() {
    const bool durable = file_.IsOpen() && FlushFileBuffers(file_.Get());
    file_.Close();
    return durable;
}

bool RunJournal::HandleOutput::Write(const uint8_t* data, size_t length) { return WriteAll(file_, data, length); }

RunJournal::~RunJournal() { Close(); }

bool RunJournal::Close() {
    if (!file_.IsOpen()) return true;
    file_.Close();
    // A run's journal stays, to be undone; an undo's has served its purpose.
    if (kept_.empty()) return DeleteFileW(path_.c_str()) != FALSE;
    if (!MoveFileExW(path_.c_str(), kept_.c_str(), 0)) return false;
    path_ = kept_;
    return true;
}

std::wstring JournalStore::DefaultFolder() {
    wchar_t folder[MAX_PATH];
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, folder)))
        return std::wstring();
    return Join(folder, L"Kestrane");
}

std::unique_ptr<RunJournal> JournalStore::StartRun(const RunInfo& info) const { return Start(info, true); }
std::unique_ptr<RunJournal> JournalStore::StartUndo(const RunInfo& info) const { return Start(info, false); }

std::unique_ptr<RunJournal> JournalStore::Start(const RunInfo& info, bool run) const {
    if (!CreateDirectoryW(folder_.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return nullptr;
    const std::optional<uint64_t> salt = RandomU64();
    if (!salt) return nullptr;
    const wchar_t* prefix = run ? kRunPrefix : kUndoPrefix;
    const std::vector<RunFile> runs = List(prefix);
    const uint64_t next = runs.empty() ? 1 : runs.front().id + 1;
    for (uint64_t id = next; id < next + kNameAttempts; ++id) {
        // A journal of the same id in another state would take this one's place.
        if (GetFileAttributesW(Join(folder_, JournalName(prefix, id, kUndoneExtension)).c_str()) !=
                INVALID_FILE_ATTRIBUTES ||
            GetFileAttributesW(Join(folder_, JournalName(prefix, id, kLiveExtension)).c_str()) !=
                INVALID_FILE_ATTRIBUTES)
            continue;
        std::wstring path = Join(folder_, JournalName(prefix, id, kOpenExtension));
        // Others may read it (the listing does); nobody may write, rename
        // or delete it while the run writes it.
        CFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.IsOpen()) {
            if (GetLastError() == ERROR_FILE_EXISTS) continue;
            return nullptr;
        }
        const std::wstring kept = run ? Join(folder_, JournalName(prefix, id, kLiveExtension)) : std::wstring();
        std::unique_ptr<RunJournal> journal(new RunJournal(std::move(file), path, kept, *salt, info));
        if (journal->writer_.Begin()) return journal;
        // A journal without its header is of no use to anyone.
        journal->kept_.clear();
        journal.reset();
        return nullptr;
    }
    return nullptr;
}

std::vector<RunFile> JournalStore::Runs() const { return List(kRunPrefix); }

std::vector<std::wstring> JournalStore::Unfinished() const {
    std::vector<std::wstring> open;
    for (const wchar_t* prefix : {kRunPrefix, kUndoPrefix})
        for (const RunFile& run : List(prefix))
            if (run.open) open.push_back(run.path);
    return open;
}

bool JournalStore::Recovered(const std::wstring& path) const {
    const size_t slash = path.find_last_of(L'\\');
    const std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    if (name.compare(0, std::wcslen(kUndoPrefix), kUndoPrefix) == 0) return DeleteFileW(path.c_str()) != FALSE;
    const std::optional<RunFile> run = ParseJournalName(name, kRunPrefix);
    return run && run->open &&
           MoveFileExW(path.c_str(), Join(folder_, JournalName(kRunPrefix, run->id, kLiveExtension)).c_str(), 0);
}

std::vector<RunFile> JournalStore::List(const wchar_t* prefix) const {
    std::vector<RunFile> runs;
    CFindFile search(Join(folder_, L""), std::wstring(prefix) + L"*");
    if (!search.Found()) return runs;
    do {
        const WIN32_FIND_DATAW& entry = search.Data();
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        if (std::optional<RunFile> run = ParseJournalName(entry.cFileName, prefix)) {
            run->path = Join(folder_, entry.cFileName);
            run->size = Join64(entry.nFileSizeHigh, entry.nFileSizeLow);
            runs.push_back(std::move(*run));
        }
    } while (search.Next());
    std::sort(runs.begin(), runs.end(), [](const RunFile& a, const RunFile& b) { return a.id > b.id; });
    return runs;
}

std::optional<RunFile> JournalStore::NewestNotUndone() const {
    for (RunFile& run : Runs())
        if (!run.undone) return std::move(run);
    return std::nullopt;
}

bool JournalStore::MarkUndone(const RunFile& run) const {
    if (run.undone) return true;
    if (run.open) return false;
    // Write-through: the rename is on disk before the undo reports done.
    return MoveFileExW(run.path.c_str(), Join(folder_, JournalName(kRunPrefix, run.id, kUndoneExtension)).c_str(),
                       MOVEFILE_WRITE_THROUGH) != FALSE;
}

void JournalStore::Prune(const std::wstring& written) const {
    const std::vector<RunFile> runs = Runs();
    size_t keep = 1;
    uint64_t total = runs.empty() ? 0 : runs[0].size;
    for (; keep < runs.size() && keep < limits_.keepRuns; ++keep) {
        total += runs[keep].size;
        if (total > limits_.sizeCap) break;
    }
    // Oldest first, so that a failure part-way leaves the newer ones.
    for (size_t i = runs.size(); i-- > keep;)
        if (runs[i].path != written && !runs[i].open) DeleteFileW(runs[i].path.c_str());
}

}  // namespace kes::journal
