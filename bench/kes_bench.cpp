// Times whole runs of the real kes_bat.exe, driven through its window, and
// the floor program's walk over the same files in the same Wine prefix,
// taking turns so that a slow spell of the machine hits both alike.
//   kes_bench PLUGIN FOLDER PATTERN read|rewrite RUNS COMMENT
// The tool is started once, in a folder of its own beside this program with
// PLUGIN as its only plug-in; a first run of each warms the caches and is
// not counted. Prints "key value" lines for bench.sh; every run must write
// every file without an error, or the program fails.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "Floor.h"
#include "KesDriver.h"
#include "TestSupport.h"
#include "kes_bat_ids.h"
#include "kes_bat_msg.h"

namespace {

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::string ToolText(const std::string& exe, UINT id) {
    HMODULE m = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    char text[256] = "";
    if (m != nullptr) {
        LoadStringA(m, id, text, sizeof text);
        FreeLibrary(m);
    }
    return text;
}

int Fail(const std::string& why) {
    fprintf(stderr, "kes_bench: %s\n", why.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace kes_bench;
    TFloorJob job;
    if (argc != 7 || !ParseFloorJob(argv[4], job) || atoi(argv[5]) < 1)
        return Fail("usage: kes_bench PLUGIN FOLDER PATTERN read|rewrite RUNS COMMENT");
    const std::string plugin = argv[1], folder = argv[2], pattern = argv[3], comment = argv[6];
    const int runs = atoi(argv[5]);

    const std::string toolDir = kes_test::ExeDir() + "tool\\";
    kes_test::RemoveTree(toolDir);
    CreateDirectoryA(toolDir.c_str(), nullptr);
    kes_test::TKesDriver tool(toolDir, {});
    const std::string pluginName = plugin.substr(plugin.find_last_of('\\') + 1);
    if (!CopyFileA(plugin.c_str(), (toolDir + pluginName).c_str(), FALSE)) return Fail("cannot copy " + plugin);
    const std::string completed = ToolText(toolDir + "kes_bat.exe", IDS_LOG_COMPLETED);
    if (completed.empty()) return Fail("no completion message in the tool");
    if (!tool.Start()) return Fail("the tool did not start");
    tool.SetText(IDC_MEMO_COMMENT, comment);
    tool.SetText(IDC_EDIT_DIR, folder);
    tool.SetChecked(IDC_CHECKBOX_SUBDIR, true);
    tool.ChooseCombo(0);
    const SIZE_T peakIdle = tool.PeakWorkingSet();

    std::vector<double> floorMs, toolMs, collectMs, writeMs;
    long files = 0;
    for (int run = 0; run <= runs; ++run) {
        const double floorStart = NowMs();
        const TFloorCount count = RunFloor(folder, pattern, job);
        const double floorTime = NowMs() - floorStart;
        if (count.Files == 0 || count.Failed != 0)
            return Fail("the floor failed on " + std::to_string(count.Failed) + " of " +
                        std::to_string(count.Files) + " files");
        files = count.Files;

        kes_test::TRunTiming timing;
        if (!tool.TimedRun(timing, 3600 * 1000)) return Fail("the run did not start or end");
        const std::vector<std::string> log = tool.LogLines();
        if (timing.Files != static_cast<unsigned long>(files))
            return Fail("the tool found " + std::to_string(timing.Files) + " files, the floor " +
                        std::to_string(files));
        // The count line, then the completion line and nothing else: any
        // further line names a file that failed.
        if (log.size() != 2 || log[1] != completed)
            return Fail("the run did not complete cleanly (" + std::to_string(log.size()) + " log lines)");
        printf("run %d floor_ms %.1f tool_ms %.1f collect_ms %.1f%s\n", run, floorTime, timing.TotalMs,
               timing.CollectMs, run == 0 ? " (warm-up, not counted)" : "");
        fflush(stdout);
        if (run == 0) continue;
        floorMs.push_back(floorTime);
        toolMs.push_back(timing.TotalMs);
        collectMs.push_back(timing.CollectMs);
        writeMs.push_back(timing.TotalMs - timing.CollectMs);
    }
    const SIZE_T peak = tool.PeakWorkingSet();
    tool.PostClose();
    if (tool.WaitExit(15000) == STILL_ACTIVE) return Fail("the tool did not end");

    const double floorMedian = Median(floorMs), toolMedian = Median(toolMs);
    printf("files %ld\nruns %d\n", files, runs);
    printf("floor_ms %.1f\ntool_ms %.1f\ncollect_ms %.1f\nwrite_ms %.1f\n", floorMedian, toolMedian,
           Median(collectMs), Median(writeMs));
    printf("ratio %.3f\n", toolMedian / floorMedian);
    printf("peak_idle_bytes %lu\npeak_bytes %lu\n", static_cast<unsigned long>(peakIdle),
           static_cast<unsigned long>(peak));
    return 0;
}
