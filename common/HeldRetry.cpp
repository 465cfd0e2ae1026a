#include "HeldRetry.h"

#include <algorithm>

namespace kes {
namespace {

// The first pause is short, since most holders let go within a few
// milliseconds; each next one is twice as long, up to a quarter second.
constexpr DWORD kFirstPauseMs = 10;
constexpr DWORD kLongestPauseMs = 250;

}  // namespace

bool HeldByAnother(DWORD error) { return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION; }

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
