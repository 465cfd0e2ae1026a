// What the next start does about a file whose rewrite a crash cut short.
//
// Before the tool rewrites a file it makes durable a record naming the file
// (the target), a temporary file beside it and a backup name, with the size
// and hash of the contents before and after. The rewrite writes the
// temporary file, flushes it, replaces the target with it (the target goes
// to the backup name, the temporary file to the target's), puts the backup
// back over the target where the result lost the target's owner or access,
// and deletes the backup. Putting a file back runs the same steps with
// before and after swapped, so the decision below knows only "the version
// the step started from" and "the version it writes".
//
// Portable: the Windows side finds what each name holds (by size and hash)
// and carries out the steps; the decision is a plain function of what it
// found, tested natively over every point where a crash can stop the steps.
#ifndef KESTRANE_ENGINE_RECOVERY_H
#define KESTRANE_ENGINE_RECOVERY_H

#include <vector>

namespace kes::engine {

// What one of the record's names holds.
enum class Found {
    kMissing,
    kBefore,  // exactly the contents before the step
    kAfter,   // exactly the contents the step writes
    kOther,   // anything else: a temporary file cut short, or what the user put there
};

struct Findings {
    Found target = Found::kMissing;
    Found temporary = Found::kMissing;
    Found backup = Found::kMissing;
    // Whether the file that is to keep the target's name (the target where
    // it holds a version, else the temporary file) grants other owners or
    // access than the backup, which is the original renamed and so kept the
    // original's. Read only where the backup holds a version: then a crash
    // may have come before the tool compared them, and the backup must win.
    bool accessDiffers = false;
};

enum class RecoveryStep {
    kTemporaryToTarget,  // rename, never replacing: the target is missing
    kBackupToTarget,     // rename, never replacing: the target is missing
    kBackupOverTarget,   // rename replacing the target (it holds a version)
    kDeleteTemporary,
    kDeleteBackup,
};

enum class Holds { kBefore, kAfter, kNeither };

struct RecoveryPlan {
    // To be done in this order; the Windows side stops at the first that
    // fails, and the next start finds and decides again.
    std::vector<RecoveryStep> steps;
    // What the target holds once the steps are done. kNeither: the user
    // deleted or changed it after the crash, and it is left as it is.
    Holds target = Holds::kNeither;
    // The backup name holds neither version: it is not the tool's, and it
    // is left where it is.
    bool foreignBackupLeft = false;
};

// Every recovered file ends as one whole version, or is the user's and
// untouched; the temporary file and a backup holding a version never
// remain; no step deletes a version while the target is missing. Where
// the target is missing, a whole temporary file wins over the backup: the
// run's record can still undo the new contents. Deciding again on what the
// steps leave, even when a crash cuts them short, gives the same end.
RecoveryPlan PlanRecovery(const Findings& found);

}  // namespace kes::engine

#endif
