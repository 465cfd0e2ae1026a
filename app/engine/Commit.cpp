#include "Commit.h"

#include <map>
#include <memory>

#include "Kes_bat_data.h"
#include "SafeReplace.h"

using namespace kes::journal;

bool TGroupCommit::Commit(std::vector<TCommitFile>& files, const std::function<bool(TCommitFile&)>& each) {
    if (!journal_.Flush()) return false;
    report_.Step(TCommitStep::Recorded);

    // The new contents, each in its file beside its target, sent to the
    // disk without a flush of the disk's cache where the system can.
    std::vector<std::unique_ptr<kes::CReplacement>> replacements(files.size());
    std::map<uint64_t, HANDLE> volumes;  // one file of each volume, whose flush serves them all
    bool durable = true;
    for (size_t i = 0; i < files.size(); ++i) {
        TCommitFile& file = files[i];
        auto replacement = std::make_unique<kes::CReplacement>(file.Path, file.Token, file.Seen.dwFileAttributes);
        const bool written =
            replacement->Created() && file.Write(*replacement) && (!file.Time || replacement->SetTime(*file.Time));
        if (!written) {
            // A full disk, or a folder the user may not write to.
            file.Result = FailureOf(GetLastError(), kes::kFileFailed);
            continue;
        }
        if (file.CheckWritten && (file.Result = file.CheckWritten(replacement->Handle())) != 0) continue;
        report_.Step(TCommitStep::Created);
        const std::optional<uint64_t> volume = kes::FlushGroupOf(
            replacement->Handle(), identities_.VolumeOf(replacement->Handle(), file.Path.Folder().Text()));
        if (replacement->WriteOut() && volume)
            volumes[*volume] = replacement->Handle();
        else
            durable = replacement->Flush() && durable;
        replacements[i] = std::move(replacement);
    }
    for (const auto& volume : volumes) durable = kes::FlushVolume(volume.second) && durable;
    // Without its new contents durable, no file may be replaced: a replace
    // that outlasted a crash would leave a file of zeros.
    if (!durable)
        for (size_t i = 0; i < files.size(); ++i)
            if (replacements[i]) {
                replacements[i].reset();
                files[i].Result = kes::kFileFailed;
            }
    report_.Step(TCommitStep::Durable);

    DoneRecord done;
    bool stop = false;
    for (size_t i = 0; i < files.size() && !stop; ++i) {
        TCommitFile& file = files[i];
        if (replacements[i]) {
            std::optional<uint64_t> number;
            file.Result = replacements[i]->Replace(file.Seen, retry_, &number);
            if (file.Result == kes::kFileFailed) file.Result = FailureOf(replacements[i]->Error(), kes::kFileFailed);
            report_.Step(TCommitStep::Replaced);
            const std::optional<uint32_t> volume = identities_.KnownVolume(file.Path.Folder().Text());
            if (file.JournalFile && number && volume && (file.Result == kes::kWritten || file.Result == kes::kBackupLeft))
                done.identities.emplace_back(*file.JournalFile, FileIdentity{*volume, *number});
            replacements[i].reset();
            report_.Step(TCommitStep::Settled);
        }
        file.Committed = true;
        stop = !each(file);
    }
    // The rest keep their old contents; their temporary files go now.
    replacements.clear();
    journal_.AppendDone(done);
    report_.Step(TCommitStep::Done);
    return true;
}
