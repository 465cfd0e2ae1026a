// Times whole runs of the real kes_bat.exe, driven through its window, and
// the floor program's walk over the same files in the same Wine prefix,
// and the plug-in called directly for each file as the floor reads it,
// taking turns so that a slow spell of the machine hits all alike.
//   kes_bench PLUGIN FOLDER PATTERN read|rewrite RUNS COMMENT [nowarmup]
//   kes_bench steps COUNT
// The tool is started once, in a folder of its own beside this program with
// PLUGIN as its only plug-in; a first run of each warms the caches and is
// not counted. The last run writes COMMENT. Prints "key value" lines for
// bench.sh; every run must write every file without an error, or the
// program fails.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <type_traits>
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

LRESULT CALLBACK PassOn(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

// What the steps that a run takes for every file besides reading it cost
// here, each timed over `count` calls in a window like the tool's: the
// Escape poll, the dispatch of pending messages, reading the comment field,
// and redrawing the counter and the bar.
int Steps(int count) {
    using kes_bench::NowMs;
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    HWND main = CreateWindowExA(0, "STATIC", "steps", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 200, nullptr,
                                nullptr, nullptr, nullptr);
    HWND label = CreateWindowExA(0, "STATIC", "0 / 0", WS_CHILD | WS_VISIBLE, 10, 10, 100, 12, main, nullptr,
                                 nullptr, nullptr);
    HWND bar = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, 120, 10, 200, 16, main, nullptr,
                               nullptr, nullptr);
    HWND edit = CreateWindowExA(0, "EDIT", "a comment of some length", WS_CHILD | WS_VISIBLE | ES_MULTILINE, 10,
                                40, 300, 60, main, nullptr, nullptr, nullptr);
    if (main == nullptr || label == nullptr || bar == nullptr || edit == nullptr) return Fail("no window");
    SendMessageA(bar, PBM_SETRANGE32, 0, count);
    const auto dispatch = [] {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    };
    dispatch();
    const auto time = [count](const char* name, auto step) {
        const double start = NowMs();
        for (int i = 1; i <= count; ++i) step(i);
        printf("step_us %s %.1f\n", name, 1000.0 * (NowMs() - start) / count);
    };
    SHORT keys = 0;
    size_t chars = 0;
    time("escape_poll", [&](int) { keys |= GetAsyncKeyState(VK_ESCAPE); });
    time("dispatch", [&](int) { dispatch(); });
    time("read_comment", [&](int) {
        char text[256];
        chars += GetWindowTextA(edit, text, sizeof text);
    });
    // The same field subclassed through the common controls' chain, as the
    // tool's comment field once was: every message looks up a window
    // property.
    SetWindowSubclass(edit, PassOn, 0, 0);
    time("read_comment_subclassed", [&](int) {
        char text[256];
        chars += GetWindowTextLengthA(edit);
        chars += GetWindowTextA(edit, text, sizeof text);
    });
    time("redraw_counter", [&](int i) {
        SendMessageA(bar, PBM_SETPOS, i, 0);
        SetWindowTextA(label, (std::to_string(i) + " / " + std::to_string(count)).c_str());
        dispatch();
    });
    DestroyWindow(main);

    // What the bundled plug-ins do for every file besides the rewrite that
    // the floor also does: look at the file once more just before the
    // replace, opened without sharing, for its size, time, links and name.
    const std::string file = kes_test::ExeDir() + "kes_bench.exe";
    int looked = 0;
    time("plugin_check_before_replace", [&](int) {
        HANDLE h = CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return;
        FILE_STANDARD_INFO standard;
        FILE_BASIC_INFO basic;
        char name[2 * MAX_PATH];
        looked += GetFileInformationByHandleEx(h, FileStandardInfo, &standard, sizeof standard) &&
                  GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic) &&
                  GetFinalPathNameByHandleA(h, name, sizeof name, FILE_NAME_NORMALIZED) != 0;
        CloseHandle(h);
    });
    if (looked != count) return Fail("the plug-in's look at the file went wrong");
    return chars == 0 ? Fail("the comment field read empty") : 0;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace kes_bench;
    if (argc == 3 && std::string(argv[1]) == "steps") return Steps(std::max(1, atoi(argv[2])));
    TFloorJob job;
    const bool warmUp = !(argc == 8 && std::string(argv[7]) == "nowarmup");
    if ((argc != 7 && warmUp) || !ParseFloorJob(argv[4], job) || atoi(argv[5]) < 1)
        return Fail("usage: kes_bench PLUGIN FOLDER PATTERN read|rewrite RUNS COMMENT [nowarmup]");
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
    tool.SetText(IDC_EDIT_DIR, folder);
    tool.SetChecked(IDC_CHECKBOX_SUBDIR, true);
    tool.ChooseCombo(0);
    const SIZE_T peakIdle = tool.PeakWorkingSet();

    // The plug-in alone, loaded here and called for each file as the floor
    // reads it: what the tool adds is the rest.
    const std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&FreeLibrary)> module(
        LoadLibraryA(plugin.c_str()), FreeLibrary);
    using TWriteComment = int(WINAPI*)(HWND, LPCSTR, const void*, DWORD, LPCSTR, DWORD);
    const auto writeComment =
        module ? reinterpret_cast<TWriteComment>(
                     reinterpret_cast<void*>(GetProcAddress(module.get(), "WriteComment")))
               : nullptr;
    if (writeComment == nullptr) return Fail("cannot load " + plugin);
    // It writes a comment of its own, so that the tool's run after it has
    // always something to change.
    const std::string directComment = comment + " (direct)";
    const TWriteStep direct = [&](const std::string& path, const char* data, size_t size) {
        return writeComment(nullptr, path.c_str(), data, static_cast<DWORD>(size), directComment.c_str(),
                            static_cast<DWORD>(directComment.size())) == 0;
    };

    std::vector<double> floorMs, directMs, toolMs, collectMs, writeMs;
    long files = 0;
    long long pathBytes = 0;
    for (int run = warmUp ? 0 : 1; run <= runs; ++run) {
        const double floorStart = NowMs();
        const TFloorCount count = RunFloor(folder, pattern, job);
        const double floorTime = NowMs() - floorStart;
        if (count.Files == 0 || count.Failed != 0)
            return Fail("the floor failed on " + std::to_string(count.Failed) + " of " +
                        std::to_string(count.Files) + " files");
        files = count.Files;
        pathBytes = count.PathBytes;

        // Of a plug-in that writes nothing, the floor says all already.
        double directTime = 0;
        if (job != TFloorJob::Read) {
            const double directStart = NowMs();
            const TFloorCount directCount = WalkAndRead(folder, pattern, direct);
            directTime = NowMs() - directStart;
            if (directCount.Files != files || directCount.Failed != 0)
                return Fail("the plug-in alone failed on " + std::to_string(directCount.Failed) + " files");
        }

        // A plug-in leaves a file alone that already holds the comment, so
        // each run writes another one; the last writes COMMENT itself.
        tool.SetText(IDC_MEMO_COMMENT, (runs - run) % 2 == 0 ? comment : comment + " (before)");
        kes_test::TRunTiming timing;
        // Polled every 10 ms: each poll asks the window server, which the
        // tool needs for every file.
        if (!tool.TimedRun(timing, 3600 * 1000, 10)) return Fail("the run did not start or end");
        const std::vector<std::string> log = tool.LogLines();
        if (timing.Files != static_cast<unsigned long>(files))
            return Fail("the tool found " + std::to_string(timing.Files) + " files, the floor " +
                        std::to_string(files));
        // The count line, then the completion line and nothing else: any
        // further line names a file that failed.
        if (log.size() != 2 || log[1] != completed)
            return Fail("the run did not complete cleanly (" + std::to_string(log.size()) + " log lines)");
        printf("run %d floor_ms %.1f", run, floorTime);
        if (job != TFloorJob::Read) printf(" plugin_alone_ms %.1f", directTime);
        printf(" tool_ms %.1f collect_ms %.1f%s\n", timing.TotalMs, timing.CollectMs,
               run == 0 ? " (warm-up, not counted)" : "");
        fflush(stdout);
        if (run == 0) continue;
        floorMs.push_back(floorTime);
        directMs.push_back(directTime);
        toolMs.push_back(timing.TotalMs);
        collectMs.push_back(timing.CollectMs);
        writeMs.push_back(timing.TotalMs - timing.CollectMs);
    }
    const SIZE_T peak = tool.PeakWorkingSet();
    tool.PostClose();
    if (tool.WaitExit(15000) == STILL_ACTIVE) return Fail("the tool did not end");

    const double floorMedian = Median(floorMs), toolMedian = Median(toolMs);
    printf("files %ld\nruns %d\npath_bytes %lld\n", files, runs, pathBytes);
    printf("floor_ms %.1f\ntool_ms %.1f\ncollect_ms %.1f\nwrite_ms %.1f\n", floorMedian, toolMedian,
           Median(collectMs), Median(writeMs));
    if (job != TFloorJob::Read) printf("plugin_alone_ms %.1f\n", Median(directMs));
    printf("ratio %.3f\n", toolMedian / floorMedian);
    printf("peak_idle_bytes %lu\npeak_bytes %lu\n", static_cast<unsigned long>(peakIdle),
           static_cast<unsigned long>(peak));
    return 0;
}
