// At start, before anything else: the replaces that a crash cut short are
// finished or undone, from the journals of runs and undos that never
// ended. What each of a replace's three names holds is looked at by size
// and hash; what to do about it is the portable decision of Recovery.h.
#include <memory>

#include "Engine.h"
#include "JournalStore.h"
#include "Recovery.h"
#include "SafeReplace.h"

using namespace kes::journal;
using kes::engine::Found;

namespace {

// What the file at `path` holds of the two versions.
Found Look(const TFilePath& path, const FileVersion& before, const FileVersion& after) {
    std::unique_ptr<FileSource> file = FileSource::Open(path.Win32());
    if (!file) return GetLastError() == ERROR_FILE_NOT_FOUND ? Found::kMissing : Found::kOther;
    const std::optional<Digest> hash = HashOf(*file);
    if (!hash) return Found::kOther;
    if (file->Size() == after.size && *hash == after.hash) return Found::kAfter;
    if (file->Size() == before.size && *hash == before.hash) return Found::kBefore;
    return Found::kOther;
}

bool Exists(const TFilePath& path) { return GetFileAttributesW(path.Win32().c_str()) != INVALID_FILE_ATTRIBUTES; }

bool Carry(kes::engine::RecoveryStep step, const TFilePath& target, const TFilePath& temporary,
           const TFilePath& backup) {
    using kes::engine::RecoveryStep;
    switch (step) {
        case RecoveryStep::kTemporaryToTarget:
            return MoveFileExW(temporary.Win32().c_str(), target.Win32().c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
        case RecoveryStep::kBackupToTarget:
            return MoveFileExW(backup.Win32().c_str(), target.Win32().c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
        case RecoveryStep::kBackupOverTarget:
            return MoveFileExW(backup.Win32().c_str(), target.Win32().c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
        case RecoveryStep::kDeleteTemporary: return DeleteFileW(temporary.Win32().c_str()) != FALSE;
        case RecoveryStep::kDeleteBackup: return DeleteFileW(backup.Win32().c_str()) != FALSE;
    }
    return false;
}

// One replace of a journal: a crash left its temporary file or its backup
// beside it, or neither, and then there is nothing to do.
void Recover(const OpenReplace& replace) {
    const TFilePath target(ToWide(replace.path));
    const TFilePath folder = target.Folder();
    const TFilePath temporary = folder.Child(kes::TemporaryName(replace.token));
    const TFilePath backup = folder.Child(kes::BackupName(replace.token));
    if (!Exists(temporary) && !Exists(backup)) return;
    kes::engine::Findings found;
    found.target = Look(target, replace.before, replace.after);
    found.temporary = Look(temporary, replace.before, replace.after);
    found.backup = Look(backup, replace.before, replace.after);
    if (found.backup == Found::kBefore || found.backup == Found::kAfter) {
        const bool targetHolds = found.target == Found::kBefore || found.target == Found::kAfter;
        found.accessDiffers = kes::SecurityDiffers(targetHolds ? target : temporary, backup);
    }
    for (const kes::engine::RecoveryStep step : kes::engine::PlanRecovery(found).steps)
        if (!Carry(step, target, temporary, backup)) return;
}

}  // namespace

void RecoverUnfinished(const std::wstring& journalFolder) {
    const JournalStore store(journalFolder);
    for (const std::wstring& path : store.Unfinished()) {
        {
            // Another window that still writes it holds it open for
            // writing: then this one cannot be opened, and is left alone.
            std::unique_ptr<FileSource> source = FileSource::Open(path);
            if (!source) continue;
            const std::optional<JournalReader> journal = JournalReader::Open(*source);
            if (journal)
                for (const OpenReplace& replace : journal->OpenReplaces()) Recover(replace);
        }
        store.Recovered(path);
    }
}
