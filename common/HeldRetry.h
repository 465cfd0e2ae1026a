// Waiting out a file that another program holds for a moment. Virus
// scanners, the search indexer and cloud sync engines open a file just
// after it changes, or just before, and let it go within a fraction of a
// second: a sharing violation then says "not yet" rather than "no".
#ifndef KESTRANE_HELD_RETRY_H
#define KESTRANE_HELD_RETRY_H

#include <windows.h>

#include <functional>

namespace kes {

// How long a file, or a whole run, may wait for others to let go.
constexpr DWORD kHeldWaitMs = 1000;

// Whether an error says that another program has the file open.
bool HeldByAnother(DWORD error);

// A budget of waiting, spent by every retry made through it: one per file
// for a plug-in's own write, one per run for the tool's, so that a folder
// of files that stay held costs about a second, not a second a file.
class CHeldRetry {
public:
    explicit CHeldRetry(DWORD budgetMs = kHeldWaitMs) : leftMs_(budgetMs) {}
    CHeldRetry(const CHeldRetry&) = delete;
    CHeldRetry& operator=(const CHeldRetry&) = delete;

    // Calls `attempt`, which answers ERROR_SUCCESS or the error it failed
    // with, again after a short and growing pause for as long as it fails
    // because the file is held and the budget lasts. Its last answer.
    DWORD Run(const std::function<DWORD()>& attempt);

private:
    DWORD leftMs_;
};

}  // namespace kes

#endif
