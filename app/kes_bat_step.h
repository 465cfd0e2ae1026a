// One file of a run or of an undo, from reading it to keeping its record:
// the run reads the file, hands it to the plug-in, reads back what the
// plug-in left and checks it, and journals the old contents so that the run
// can be taken back; the undo checks the file is as the run left it,
// rebuilds the old contents from the journal and puts them back through the
// same safe replace as the plug-ins use.
#ifndef KESTRANE_KES_BAT_STEP_H
#define KESTRANE_KES_BAT_STEP_H

#include <windows.h>

#include <memory>
#include <string>

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
    // Once the run is over: the journals of old runs beyond the store's
    // limits go.
    void Finish();

private:
    kes::journal::JournalStore store_;
    std::wstring root_;          // as typed, with its delimiter
    std::wstring absoluteRoot_;  // the same folder from a drive or share
    kes::journal::RunInfo info_;
    std::unique_ptr<kes::journal::RunJournal> journal_;
    kes::journal::FileIdentities identities_;
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
    // One file of a run, through the prepared plug-in (CKesBat). The result
    // is WriteOneFile's or one of the Err* above; `stop` is set when the
    // run must not go on.
    static int Write(HWND window, const TFilePath& path, const std::wstring& comment, TRunRecorder& recorder,
                     bool& stop);
    // One file of an undo.
    static TUndone Undo(const kes::journal::FileEntry& file, const kes::journal::JournalReader& journal,
                        kes::journal::FileIdentities& identities);
};

#endif
