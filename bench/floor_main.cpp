// The floor as a program of its own: the same code natively (g++) as under
// Wine, so that each platform has its own floor to be measured against.
//   kes_floor read|rewrite|rewrite-noflush FOLDER PATTERN RUNS
// Prints one line per run, "floor_ms <ms> files <n> failed <n>".
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Floor.h"

int main(int argc, char** argv) {
    kes_bench::TFloorJob job;
    if (argc != 5 || !kes_bench::ParseFloorJob(argv[1], job) || atoi(argv[4]) < 1) {
        fprintf(stderr, "usage: kes_floor read|rewrite|rewrite-noflush FOLDER PATTERN RUNS\n");
        return 2;
    }
    int status = 0;
    for (int run = 0; run < atoi(argv[4]); ++run) {
        const double start = kes_bench::NowMs();
        const kes_bench::TFloorCount count = kes_bench::RunFloor(argv[2], argv[3], job);
        const double ms = kes_bench::NowMs() - start;
        printf("floor_ms %.1f files %ld failed %ld\n", ms, count.Files, count.Failed);
        fflush(stdout);
        if (count.Files == 0 || count.Failed != 0) status = 1;
    }
    return status;
}
