// A run over its queued files. A plug-in that writes its files itself is
// called for one file after the other, as it has always been; a plug-in
// that plans has its files read, planned, checked and journaled in groups,
// and the tool writes each group with two flushes of the disk.
#include <windows.h>

#include <restartmanager.h>

#include <algorithm>
#include <vector>

#include "Application.h"
#include "Commit.h"
#include "Engine.h"
#include "FilePlan.h"
#include "Kes_bat_data.h"
#include "Step.h"

using namespace kes::journal;

bool TRunEnvironment::EscapePressed() { return (GetAsyncKeyState(VK_ESCAPE) & 0x8000) != 0; }
void TRunEnvironment::ProcessMessages() { Application.ProcessMessages(); }
void TRunEnvironment::Beep(UINT type) { MessageBeep(type); }
DWORD TRunEnvironment::TickCount() { return GetTickCount(); }
DWORD TRunEnvironment::EntryAttributes(const WIN32_FIND_DATAW& entry) { return entry.dwFileAttributes; }
std::wstring TRunEnvironment::JournalFolder() { return JournalStore::DefaultFolder(); }

namespace {

// A Restart Manager session, ended with the object.
class CRestartSession {
public:
    CRestartSession() {
        WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
        started_ = RmStartSession(&handle_, 0, key) == ERROR_SUCCESS;
    }
    CRestartSession(const CRestartSession&) = delete;
    CRestartSession& operator=(const CRestartSession&) = delete;
    ~CRestartSession() {
        if (started_) RmEndSession(handle_);
    }
    bool Started() const { return started_; }
    DWORD Handle() const { return handle_; }

private:
    DWORD handle_ = 0;
    bool started_ = false;
};

}  // namespace

std::wstring TRunEnvironment::HolderOf(const TFilePath& path) {
    const CRestartSession session;
    const std::wstring file = path.Absolute().Text();
    LPCWSTR files[] = {file.c_str()};
    if (!session.Started() || RmRegisterResources(session.Handle(), 1, files, 0, nullptr, 0, nullptr) != ERROR_SUCCESS)
        return std::wstring();
    // The list may grow between the call that sizes it and the one that
    // fills it.
    std::vector<RM_PROCESS_INFO> holders;
    UINT needed = 0, count = 0;
    DWORD reasons = 0, answer = ERROR_MORE_DATA;
    for (int tries = 0; answer == ERROR_MORE_DATA && tries < 3; ++tries) {
        holders.resize(needed);
        count = needed;
        answer = RmGetList(session.Handle(), &needed, &count, holders.empty() ? nullptr : holders.data(), &reasons);
    }
    std::wstring names;
    for (UINT i = 0; answer == ERROR_SUCCESS && i < count && i < holders.size(); ++i)
        names += (names.empty() ? L"" : L", ") + std::wstring(holders[i].strAppName);
    return names;
}

TRunEnvironment& TRunEnvironment::Platform() {
    static TRunEnvironment platform;
    return platform;
}

namespace {

// A group ends at so many files, so many bytes read, or so long planning:
// a flush serves many files, and progress and Escape stay prompt.
constexpr size_t kGroupFiles = 64;
constexpr uint64_t kGroupBytes = uint64_t{64} << 20;
constexpr DWORD kGroupMs = 200;
// Planned contents up to this size are checked in memory before anything
// is written; a bigger file's, in its temporary file before the replace,
// so that a file of a gigabyte never needs a second copy in memory.
constexpr uint64_t kCheckInMemory = uint64_t{64} << 20;

// The new contents as a plan spells them, read like a file: what the
// journal makes its record from.
class TPiecesSource : public ByteSource {
public:
    explicit TPiecesSource(const std::vector<std::string_view>& pieces) : pieces_(pieces) {
        for (std::string_view piece : pieces) size_ += piece.size();
    }
    uint64_t Size() const override { return size_; }
    bool Read(uint64_t offset, uint8_t* buffer, size_t length) override {
        if (offset > size_ || length > size_ - offset) return false;
        uint64_t at = 0;
        for (std::string_view piece : pieces_) {
            if (length == 0) break;
            if (offset < at + piece.size()) {
                const size_t from = static_cast<size_t>(offset - at);
                const size_t n = std::min(length, piece.size() - from);
                std::copy_n(piece.data() + from, n, buffer);
                buffer += n;
                offset += n;
                length -= n;
            }
            at += piece.size();
        }
        return length == 0;
    }

private:
    const std::vector<std::string_view>& pieces_;
    uint64_t size_ = 0;
};

// Whether contents read back with the comment: exactly it, or none for an
// empty one.
int ReadsBack(std::string_view contents, const std::wstring& comment) {
    std::optional<std::wstring> found;
    const int read = KesBat.ReadBytes(contents, found);
    return read == 0 && found.value_or(std::wstring()) == comment ? 0 : ErrPlanCheck;
}

// The same for a temporary file, through a view of it, of which only what
// the reader looks at is brought in. A view that does not fit the address
// space beside the old contents leaves the check at what the plan's own
// check of the format gave.
int ReadsBack(HANDLE file, uint64_t size, const std::wstring& comment) {
    CFileHandle mapping(CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr));
    void* view = mapping.IsOpen() ? MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0) : nullptr;
    if (view == nullptr) return 0;
    const int result = ReadsBack(std::string_view(static_cast<const char*>(view), static_cast<size_t>(size)), comment);
    UnmapViewOfFile(view);
    return result;
}

// One queued file of a group: what became of it before the commit, and,
// when it is to be written, its commit.
struct TGroupFile {
    int result = 0;
    bool commits = false;
    bool stopsAfter = false;  // Escape was held when its turn had come
    TFileContents old;
    std::optional<TFilePlan> plan;
    std::vector<std::string_view> pieces;
};

class TPlannedRun {
public:
    TPlannedRun(TRunEnvironment& environment, TEngineReport& report, TRunRecorder& recorder,
                const std::function<std::wstring()>& comment, std::deque<TQueuedPath>& files, TRunCounts& counts,
                kes::CHeldRetry& held)
        : environment_(environment),
          report_(report),
          recorder_(recorder),
          comment_(comment),
          files_(files),
          counts_(counts),
          held_(held) {}

    TRunEnd Run() {
        while (!files_.empty()) {
            if (report_.Closing()) return TRunEnd::Stopped;
            const TRunEnd end = Group();
            if (end != TRunEnd::Completed) return end;
        }
        return TRunEnd::Completed;
    }

private:
    // Plans the next group of files, writes what they need, and tells each
    // in its order.
    TRunEnd Group() {
        // Reserved whole: a commit writes from its file's pieces in place.
        std::vector<TGroupFile> group;
        group.reserve(kGroupFiles);
        std::vector<TCommitFile> commits;
        uint64_t bytes = 0;
        const DWORD start = environment_.TickCount();
        while (group.size() < files_.size() && group.size() < kGroupFiles && bytes < kGroupBytes &&
               environment_.TickCount() - start < kGroupMs) {
            TGroupFile& file = group.emplace_back();
            const TQueuedPath& entry = files_[group.size() - 1];
            Prepare(entry, file, commits);
            if (file.result == ErrNoRecord) break;
            bytes += file.old.Size;
            file.stopsAfter = report_.StopRequested();
            if (file.stopsAfter) break;
        }
        size_t told = 0;
        bool going = true;
        const auto tell = [&](size_t upTo) {
            for (; going && told < upTo; ++told) going = Tell(group[told]);
            return going;
        };
        const auto each = [&](TCommitFile& commit) {
            while (going && !group[told].commits) tell(told + 1);
            if (!going) return false;
            group[told].result = commit.Result == kes::kBackupLeft ? CpiBackupLeft : commit.Result;
            return tell(told + 1);
        };
        if (!commits.empty() && !TGroupCommit(*recorder_.Writer(), report_, identities_, held_).Commit(commits, each))
            return TRunEnd::NoRecord;  // nothing was written
        if (!tell(group.size())) return group[told - 1].result == ErrNoRecord ? TRunEnd::NoRecord : TRunEnd::Stopped;
        return TRunEnd::Completed;
    }

    // Reads, plans, checks and journals one file.
    void Prepare(const TQueuedPath& entry, TGroupFile& file, std::vector<TCommitFile>& commits) {
        if (entry.Kind != TQueued::Write) {
            file.result = entry.Kind == TQueued::OnlineOnly ? ErrOnlineOnly : QueuedResult(entry.Kind);
            return;
        }
        if ((file.result = ReadForPlugin(entry.Path, file.old, held_)) != 0) return;
        // What a plug-in that writes would refuse before it began, the tool
        // refuses here: it writes the file itself.
        if ((file.result = kes::CheckAttributes(file.old.Attributes)) != 0) return;
        const std::wstring comment = comment_();
        file.plan.emplace();
        file.result = KesBat.PlanFile(entry.Path, file.old.View(), comment, *file.plan);
        if (file.result != 0 || file.plan->Unchanged()) return;
        file.pieces = file.plan->Pieces();
        TPiecesSource contents(file.pieces);
        const bool inMemory = contents.Size() <= kCheckInMemory;
        if (inMemory) {
            std::string joined;
            joined.reserve(static_cast<size_t>(contents.Size()));
            for (std::string_view piece : file.pieces) joined.append(piece);
            if ((file.result = ReadsBack(joined, comment)) != 0) return;
        }
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        const FILETIME time = file.plan->KeepTime() ? file.old.LastWrite : now;
        const uint64_t token = kes::NewReplaceToken();
        const std::optional<uint32_t> record = recorder_.RecordPlanned(entry.Path, file.old, Join64(time), token, contents);
        if (!record) {
            file.result = ErrNoRecord;
            return;
        }
        file.commits = true;
        TCommitFile& commit = commits.emplace_back();
        commit.Path = entry.Path;
        commit.Seen.dwFileAttributes = file.old.Attributes;
        commit.Seen.ftLastWriteTime = file.old.LastWrite;
        commit.Seen.nFileSizeLow = file.old.Size;
        commit.Time = time;
        commit.Token = token;
        commit.JournalFile = record;
        const std::vector<std::string_view>* pieces = &file.pieces;
        commit.Write = [pieces](kes::CReplacement& replacement) {
            for (std::string_view piece : *pieces)
                if (!replacement.Write(piece)) return false;
            return true;
        };
        if (!inMemory) {
            const uint64_t size = contents.Size();
            commit.CheckWritten = [size, comment](HANDLE temporary) { return ReadsBack(temporary, size, comment); };
        }
    }

    // Tells how one file of the group ended; false when the run stops here.
    bool Tell(TGroupFile& file) {
        const TQueuedPath& entry = files_.front();
        if (file.result != 0) {
            report_.Failed(entry.Path, file.result);
            ++(file.result == ErrOnlineOnly ? counts_.onlineOnly : counts_.errors);
        }
        if (file.result == ErrNoRecord || file.stopsAfter) return false;
        files_.pop_front();
        report_.Advanced(files_.empty());
        return true;
    }

    TRunEnvironment& environment_;
    TEngineReport& report_;
    TRunRecorder& recorder_;
    const std::function<std::wstring()>& comment_;
    std::deque<TQueuedPath>& files_;
    TRunCounts& counts_;
    kes::CHeldRetry& held_;
    FileIdentities identities_;
};

// A plug-in that writes its files itself: one file after the other, each
// read back, checked and journaled.
TRunEnd RunOneByOne(TRunEnvironment& environment, TEngineReport& report, HWND window, TRunRecorder& recorder,
                    const std::function<std::wstring()>& comment, std::deque<TQueuedPath>& files, TRunCounts& counts,
                    kes::CHeldRetry& held) {
    while (!files.empty()) {
        if (report.Closing()) return TRunEnd::Stopped;
        const TQueuedPath& entry = files.front();
        bool noRecord = false;
        const int result = entry.Kind == TQueued::OnlineOnly ? ErrOnlineOnly
                           : entry.Kind != TQueued::Write    ? QueuedResult(entry.Kind)
                           : environment.KeepRecords()
                               ? TFileStep::Write(window, entry.Path, comment(), recorder, report, held, noRecord)
                               : KesBat.WriteOneFile(window, entry.Path, comment());
        if (result != 0) {
            report.Failed(entry.Path, result);
            ++(result == ErrOnlineOnly ? counts.onlineOnly : counts.errors);
        }
        if (noRecord) return TRunEnd::NoRecord;
        if (report.StopRequested()) return TRunEnd::Stopped;
        files.pop_front();
        report.Advanced(files.empty());
    }
    return TRunEnd::Completed;
}

}  // namespace

int PreviewFile(const TQueuedPath& entry, const std::wstring& comment, std::optional<std::wstring>& current) {
    if (entry.Kind != TQueued::Write) return entry.Kind == TQueued::OnlineOnly ? ErrOnlineOnly : QueuedResult(entry.Kind);
    TFileContents contents;
    // A look, not a write: what holds the file now is told at once.
    kes::CHeldRetry noWait(0);
    if (const int unread = ReadForPlugin(entry.Path, contents, noWait)) return unread;
    if (const int refused = kes::CheckAttributes(contents.Attributes)) return refused;
    const int read = KesBat.ReadComment(entry.Path, contents.View(), current);
    if (read != 0 || !KesBat.PreparedPlans()) return read;
    TFilePlan plan;
    const int planned = KesBat.PlanFile(entry.Path, contents.View(), comment, plan);
    if (planned != 0 || plan.Unchanged() || plan.Size() > kCheckInMemory) return planned;
    std::string joined;
    joined.reserve(plan.Size());
    for (std::string_view piece : plan.Pieces()) joined.append(piece);
    return ReadsBack(joined, comment);
}

TRunEnd RunFiles(TRunEnvironment& environment, TEngineReport& report, HWND window, const TFilePath& root,
                 const RunInfo& info, const std::function<std::wstring()>& comment, std::deque<TQueuedPath>& files,
                 TRunCounts& counts) {
    // The run's journal, so that it can be taken back: begun with the first
    // file it changes.
    TRunRecorder recorder(JournalStore(environment.JournalFolder()), root, info);
    // The run's files together wait no longer than one file may.
    kes::CHeldRetry held;
    const TRunEnd end = KesBat.PreparedPlans()
                            ? TPlannedRun(environment, report, recorder, comment, files, counts, held).Run()
                            : RunOneByOne(environment, report, window, recorder, comment, files, counts, held);
    recorder.Finish();
    return end;
}
