// One file of a run or of an undo, and the journal that keeps them. A run
// of a plug-in that writes its files itself reads each file, hands it to
// the plug-in, reads back what the plug-in left and checks it, and
// journals the old contents so that the run can be taken back; a file that
// fails is put back. An undo checks that a file is as the run left it and
// rebuilds its old contents from the journal. Put-backs and undos are
// written by the tool's commit, as the files of a plug-in that plans.
#ifndef KESTRANE_ENGINE_STEP_H
#define KESTRANE_ENGINE_STEP_H

#include <windows.h>

#include <memory>
#include <string>

#include "Commit.h"
#include "Engine.h"
#include "FilePath.h"
#include "Journal.h"
#include "JournalStore.h"
#include "WholeFile.h"

// Results of a run's file beyond those of WriteOneFile.
enum {
    // The plug-in said it wrote the file, but it did not read back as
    // written (or at all): it was put back from what the tool read.
    ErrCheckRestored = -7,
    // ...and it could not be put back; its record is kept for an undo.
    ErrCheckNotRestored = -8,
    // No record of the file could be kept: it was put back, and the run
    // must stop.
    ErrNoRecord = -9,
    // The plug-in deleted the file: it was made anew from what the tool
    // read, with its time and attributes, and keeps its record.
    ErrDeletedRestored = -12,
    // A cloud file whose contents are online only: left unread.
    ErrOnlineOnly = -13,
    // The plug-in planned new contents that do not read back with the
    // comment: nothing was written.
    ErrPlanCheck = -14,
};

// The journal of a run, begun with the first file it has to keep.
class TRunRecorder {
public:
    // `root` is the folder as typed for the run: every path the run
    // queues begins with it. The journal keeps every path exactly as the
    // run reached it, from its drive or share.
    TRunRecorder(kes::journal::JournalStore store, const TFilePath& root, kes::journal::RunInfo info);
    // Keeps the record of a file the run has changed; false when it cannot
    // (and for every file after that).
    bool Record(const TFilePath& path, const TFileContents& old, const kes::journal::FileSource& after,
                kes::journal::ByteSource& contents);
    // Writes, not yet durably, the record of a file the tool is about to
    // replace with `contents`, dated `newTime`, through the replace that
    // `token` names; its place among the journal's file records, or
    // nothing when it cannot.
    std::optional<uint32_t> RecordPlanned(const TFilePath& path, const TFileContents& old, uint64_t newTime,
                                          uint64_t token, kes::journal::ByteSource& contents);
    // The journal the planned records go to; null before the first.
    kes::journal::JournalWriter* Writer() { return journal_ ? &journal_->Writer() : nullptr; }
    const kes::journal::JournalStore& Store() const { return store_; }
    // Once the run is over: the journal is closed, and the journals of old
    // runs beyond the store's limits go.
    void Finish();

private:
    std::u16string FullPath(const TFilePath& path) const;
    bool Started();

    kes::journal::JournalStore store_;
    std::wstring root_;          // as typed, with its delimiter
    std::wstring absoluteRoot_;  // the same folder from a drive or share
    kes::journal::RunInfo info_;
    std::unique_ptr<kes::journal::RunJournal> journal_;
    kes::journal::FileIdentities identities_;
    uint32_t files_ = 0;  // file records so far
    bool failed_ = false;
};

// What became of one file of an undo.
enum class TUndone {
    Restored,       // put back as it was before the run
    AlreadyBefore,  // already as it was before the run (an undo that was stopped)
    Changed,        // changed since the run: left as it is, for good
    Damaged,        // the journal cannot give its old contents: left as it is, for good
    // Left as it is for now; a later undo of the same run takes it up again.
    Moved,   // not at its path, or the path leads to another file or through a link
    Held,    // another program has it open
    Failed,  // it could not be replaced
};

// Whether a later undo may still put the file back.
inline bool Remains(TUndone undone) {
    return undone == TUndone::Moved || undone == TUndone::Held || undone == TUndone::Failed;
}

class TFileStep {
public:
    // One file of a run, through the prepared plug-in (CKesBat), which
    // writes it itself. The result is WriteOneFile's or one of the Err*
    // above; `stop` is set when the run must not go on.
    // A file held for a moment is waited for through the run's `retry`.
    static int Write(HWND window, const TFilePath& path, const std::wstring& comment, TRunRecorder& recorder,
                     TEngineReport& report, kes::CHeldRetry& retry, bool& stop);
};

enum class TUndoEnd {
    Done,     // every file had its turn, and none is left that may still be put back
    Remains,  // every file had its turn, but a later undo may still put one back
    Stopped,  // at a file, by Escape or the window closing
};

// Takes back the files of a run, newest first, through the tool's commit;
// `left` hears of each file left and why.
TUndoEnd UndoFiles(const kes::journal::JournalReader& journal, const kes::journal::JournalStore& store,
                   TEngineReport& report, const std::function<void(const TFilePath&, TUndone)>& left);

#endif
