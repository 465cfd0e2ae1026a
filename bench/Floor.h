// The least work a batch run needs, written once for Windows and for the
// native platform, so that the tool under Wine and the peer tools natively
// can each be held against the floor of their own platform.
#ifndef KESTRANE_BENCH_FLOOR_H
#define KESTRANE_BENCH_FLOOR_H

#include <cstddef>
#include <functional>
#include <string>

namespace kes_bench {

enum class TFloorJob {
    Read,            // find, open, read whole, close
    ReadWide,        // the same through the UTF-16 calls, for names the code page lacks (Windows only)
    Rewrite,         // and write back through a temporary file that replaces it, flushed (ReplaceFileA on Windows)
    RewriteNoFlush,  // the same without the flush, as most command-line tools do
};

struct TFloorCount {
    long Files = 0;
    long Failed = 0;
    long long Bytes = 0;
    long long PathBytes = 0;  // the files' paths as built, each with its NUL, in bytes (two a unit in UTF-16)
};

// Walks `root` and every subfolder: first the files matching `pattern`
// (a "*.ext" mask, case-insensitive), then the subfolders, depth first, as
// the tool collects them. Each file gets `job`.
TFloorCount RunFloor(const std::string& root, const std::string& pattern, TFloorJob job);

// What is done with each file after it was read whole: given its path and
// contents, true on success.
using TWriteStep = std::function<bool(const std::string& path, const char* data, size_t size)>;

// The same walk, reading each file as the tool does and handing it to
// `write` (none: only read).
TFloorCount WalkAndRead(const std::string& root, const std::string& pattern, const TWriteStep& write);

// A monotonic clock in milliseconds.
double NowMs();

bool ParseFloorJob(const std::string& name, TFloorJob& job);

}  // namespace kes_bench

#endif
