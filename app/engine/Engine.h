// The run, the preview and the undo, without a window: collecting a run's
// files, planning, checking, journaling and writing them, taking a run
// back, and recovering at start what a crash cut short. Whoever drives it,
// the main window or a test, shows what it reports and tells it when to
// stop.
#ifndef KESTRANE_ENGINE_H
#define KESTRANE_ENGINE_H

#include <windows.h>

#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "FilePath.h"
#include "Journal.h"

// What a run needs from the platform besides the window: the Escape key,
// the step that dispatches pending messages, the end-of-run sound, the
// clock that paces the progress display, and where journals go. Tests put
// their own in place to press Escape at an exact poll or to stop the clock.
class TRunEnvironment {
public:
    virtual ~TRunEnvironment() = default;
    // True while Escape is held down at the moment of the call.
    virtual bool EscapePressed();
    virtual void ProcessMessages();
    virtual void Beep(UINT type);
    // Milliseconds, as GetTickCount counts them.
    virtual DWORD TickCount();
    // The attributes of an entry that a search returned. Tests give some
    // entries attributes that this system cannot set on a file.
    virtual DWORD EntryAttributes(const WIN32_FIND_DATAW& entry);
    // Where runs keep their journals, to be taken back.
    virtual std::wstring JournalFolder();
    // The names of the programs that have the file open, as the Restart
    // Manager tells them ("Photos, OneDrive"); empty where it cannot.
    virtual std::wstring HolderOf(const TFilePath& path);
    // Whether a run reads back, checks and journals every file it writes.
    // Always, but for the benchmark, which measures what that costs.
    virtual bool KeepRecords() { return true; }

    // The real keyboard, message queue, sound and clock.
    static TRunEnvironment& Platform();
};

// One entry of a run's list, at its place in the search's order.
enum class TQueued {
    Write,       // a file to hand to the plug-in
    // A cloud file whose contents are online only: reading it would make
    // the cloud client download it first. Reported and left.
    OnlineOnly,
    // Reported as failed without a call into the plug-in, for the reason
    // QueuedResult gives: a file or folder whose name the chosen plug-in
    // cannot take (a character its code page lacks; a name the plain form
    // would change), or a folder that could not be searched (its path then
    // ends in "\").
    NotInCodePage,
    NameNotPlain,
    Unsearchable,
};
struct TQueuedPath {
    TFilePath Path;
    TQueued Kind;
};
// The result a run reports for an entry it does not hand to the plug-in.
int QueuedResult(TQueued kind);

// Empties `into` and fills it as a run takes its files: each pattern of
// the list in turn, then, with `subDirs`, the subfolders, depth first.
// A plug-in of the code page (`codePageOnly`) is never queued a name it
// cannot take exactly. False when Escape cancelled the search.
bool CollectFiles(TRunEnvironment& environment, const TFilePath& directory, const std::wstring& patterns,
                  bool subDirs, bool codePageOnly, std::deque<TQueuedPath>& into);

// A step of the tool's commit of a group of files, in order.
enum class TCommitStep {
    Recorded,    // the group's records are durable
    Created,     // a file's new contents have a file of their own
    Durable,     // ...and all of them are on the disk
    // A file has its new contents, its owner and access judged and its
    // backup gone: the replace does all three before it returns, so that
    // a forced end can only find a backup that recovery then removes while
    // the replace is still under way.
    Replaced,
    Settled,     // ...and the tool has let go of its new file
    Done,        // the group's end is written
};

// What the engine tells whoever drives it, and asks, as it goes.
class TEngineReport {
public:
    virtual ~TEngineReport() = default;
    // A file was not written (or taken back), and why: a result of the
    // host (Err*), of the tool's checks, or of the plug-in.
    virtual void Failed(const TFilePath& path, int result) = 0;
    // One more file has had its turn; `last` for the last of all. Pending
    // messages are dispatched here.
    virtual void Advanced(bool last) = 0;
    // Asked after each file: whether the work must stop there (Escape, or
    // the window closing).
    virtual bool StopRequested() = 0;
    // Asked before each file: whether the window is closing.
    virtual bool Closing() = 0;
    // Each step of a commit, for tests that end the process at one.
    virtual void Step(TCommitStep) {}
};

enum class TRunEnd {
    Completed,
    Stopped,   // at a file, by Escape or the window closing
    NoRecord,  // a file's record could not be kept: it was put back, and the run stopped
};

struct TRunCounts {
    int errors = 0;
    int onlineOnly = 0;
};

// Writes the comment into the queued files through the prepared plug-in,
// front first, removing each from `files` once it has had its turn.
// `comment` is read for every file, with CR LF line breaks. A plug-in that
// plans has its files written by the tool, in groups; any other writes
// them itself, and the tool reads each back, checks it and keeps its
// record, as before.
TRunEnd RunFiles(TRunEnvironment& environment, TEngineReport& report, HWND window, const TFilePath& root,
                 const kes::journal::RunInfo& info, const std::function<std::wstring()>& comment,
                 std::deque<TQueuedPath>& files, TRunCounts& counts);

// What a run would do with one queued file, through a plug-in prepared to
// read (PrepareRead), writing nothing: 0 when it would write it, else why
// not. `current` gets the file's comment as it is (nothing for none). A
// plug-in that plans is asked for its plan with `comment`, so that a
// refusal that depends on the comment shows too.
int PreviewFile(const TQueuedPath& entry, const std::wstring& comment, std::optional<std::wstring>& current);

// Finishes or undoes every replace that a crash cut short, in the
// journals of runs and undos that never ended; what another window still
// writes is left alone.
void RecoverUnfinished(const std::wstring& journalFolder);

#endif
