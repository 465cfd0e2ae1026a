// The tool's writing of a group of files. Their records are made durable
// with one flush, their new contents with another (one per volume), and
// only then is each file replaced: no file changes before its record can
// be found, and no replace can outlast a crash that its new contents did
// not. A flush of the whole disk cache costs milliseconds on Windows; two
// for a group, not two for every file.
#ifndef KESTRANE_ENGINE_COMMIT_H
#define KESTRANE_ENGINE_COMMIT_H

#include <windows.h>

#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "Engine.h"
#include "FilePath.h"
#include "JournalStore.h"
#include "SafeReplace.h"

// One file of a group: where it is, what was seen of it when it was read,
// and its new contents.
struct TCommitFile {
    TFilePath Path;
    WIN32_FILE_ATTRIBUTE_DATA Seen{};
    // Writes the new contents into their file.
    std::function<bool(kes::CReplacement&)> Write;
    // The new contents' modification time; none for the time of the write.
    std::optional<FILETIME> Time;
    // The token that names its temporary and backup files, as its record
    // in the journal gives it.
    uint64_t Token = 0;
    // Its place among the journal's file records, for its identity once
    // written; none when the record is an intent (an undo's, a put-back's).
    std::optional<uint32_t> JournalFile;
    // Checks the new contents as written to `temporary`, for files too big
    // to check in memory before; nothing to check when empty.
    std::function<int(HANDLE temporary)> CheckWritten;
    // How it ended: 0 when replaced, else why not (the replace's Cpi*
    // codes, the reason the system gave where it named one, or the
    // check's result).
    int Result = 0;
    bool Committed = false;  // it had its turn
};

class TGroupCommit {
public:
    // `retry` is the waiting that files held for a moment may still have,
    // shared by every group of a run.
    TGroupCommit(kes::journal::JournalWriter& journal, TEngineReport& report,
                 kes::journal::FileIdentities& identities, kes::CHeldRetry& retry)
        : journal_(journal), report_(report), identities_(identities), retry_(retry) {}

    // Writes the group, whose records are written to the journal already.
    // `each` is called for every file as it ends, in order, and stops the
    // group by answering false: the files after it are left as they were.
    // False when the records could not be made durable: then no file is
    // touched.
    bool Commit(std::vector<TCommitFile>& files, const std::function<bool(TCommitFile&)>& each);

private:
    kes::journal::JournalWriter& journal_;
    TEngineReport& report_;
    kes::journal::FileIdentities& identities_;
    kes::CHeldRetry& retry_;
};

#endif
