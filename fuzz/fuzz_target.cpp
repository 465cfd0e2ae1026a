// One libFuzzer target per format core, chosen by KES_FUZZ_CHECK at build
// time (see run.sh). A broken rule aborts, which libFuzzer reports as a crash
// and keeps the input.
#include <cstdio>
#include <cstdlib>

#include "FuzzChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string problem = kes_fuzz::KES_FUZZ_CHECK(data, size);
    if (!problem.empty()) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
