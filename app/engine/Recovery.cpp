#include "Recovery.h"

namespace kes::engine {
namespace {

bool IsVersion(Found found) {
    return found == Found::kBefore || found == Found::kAfter;
}

Holds HoldsOf(Found found) {
    switch (found) {
    case Found::kBefore:
        return Holds::kBefore;
    case Found::kAfter:
        return Holds::kAfter;
    default:
        return Holds::kNeither;
    }
}

}  // namespace

RecoveryPlan PlanRecovery(const Findings& found) {
    // A backup with the original's contents and access wins over a result
    // whose access a crash kept the tool from checking.
    const bool backupWins = IsVersion(found.backup) && found.accessDiffers;
    bool temporaryMoves = false, backupMoves = false;
    if (IsVersion(found.target)) {
        backupMoves = backupWins;
    } else if (found.target == Found::kMissing) {
        // Only a missing target may have lost its name to a crash; one the
        // user changed is the user's, and keeps it.
        temporaryMoves = IsVersion(found.temporary) && !backupWins;
        backupMoves = !temporaryMoves && IsVersion(found.backup);
    }
    RecoveryPlan plan;
    plan.target = HoldsOf(found.target);
    if (temporaryMoves) {
        plan.steps.push_back(RecoveryStep::kTemporaryToTarget);
        plan.target = HoldsOf(found.temporary);
    } else if (backupMoves) {
        plan.steps.push_back(IsVersion(found.target) ? RecoveryStep::kBackupOverTarget : RecoveryStep::kBackupToTarget);
        plan.target = HoldsOf(found.backup);
    }
    // The deletes come after the rename, so that none takes a version while
    // the target is missing: what is left in either file is then a second
    // copy, a file cut short, or the target is the user's.
    if (found.temporary != Found::kMissing && !temporaryMoves)
        plan.steps.push_back(RecoveryStep::kDeleteTemporary);
    if (IsVersion(found.backup) && !backupMoves)
        plan.steps.push_back(RecoveryStep::kDeleteBackup);
    plan.foreignBackupLeft = found.backup == Found::kOther;
    return plan;
}

}  // namespace kes::engine
