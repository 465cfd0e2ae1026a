#include "HeldRetry.h"

#include <algorithm>

namespace kes {
namespace {

// The first pause is short, since most holders let go within a few
// milliseconds; each next one is twice as long, up to a quarter second.
constexpr DWORD kFirstPauseMs = 10;
constexpr DWORD kLongestPauseMs = 250;

}  // namespace

// ReplaceFileW opens the target sharing everything, and says that it could
// not remove it when another program holds it without sharing its
// deletion; both files then keep their names, so that it may be tried
// again.
bool HeldByAnother(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_UNABLE_TO_REMOVE_REPLACED;
}

DWORD CHeldRetry::Run(const std::function<DWORD()>& attempt) {
    DWORD pause = kFirstPauseMs;
    for (;;) {
        const DWORD error = attempt();
        if (!HeldByAnother(error) || leftMs_ == 0) return error;
        const DWORD now = std::min(pause, leftMs_);
        Sleep(now);
        leftMs_ -= now;
        pause = std::min(pause * 2, kLongestPauseMs);
    }
}

}  // namespace kes
