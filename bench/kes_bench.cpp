// Times whole runs of the real kes_bat.exe, driven through its window, and
// the floor program's walk over the same files in the same Wine prefix,
// and the plug-in called directly for each file as the floor reads it,
// taking turns so that a slow spell of the machine hits all alike.
//   kes_bench PLUGIN FOLDER PATTERN read|read-wide|rewrite RUNS COMMENT [OPTION...]
//   kes_bench steps COUNT
// Options:
//   nowarmup  no first run to warm the caches (which is otherwise not counted)
//   plain     kes_bat_plain.exe takes its turn too, writing the same comment
//             without the records over the same files: in a rewrite the
//             tool's run is taken back first (ファイル → 元に戻す, timed),
//             except in the last round, where the plain run goes first
//   preview   ファイル → プレビュー is timed after the runs (a plug-in that reads)
//   long=N    the tool writes COMMENT N times over, separated by blanks
// The tool is started once, in a folder of its own beside this program with
// PLUGIN as its only plug-in. Before each of its runs the journals in the
// prefix's journal folder are deleted; after it their size is taken. The
// last run writes COMMENT. Prints "key value" lines for bench.sh; every run
// must write every file without an error, or the program fails.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "Floor.h"
#include "JournalStore.h"
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

// A journal kept in memory, to time a record without the disk.
class CMemoryOutput : public kes::journal::RecordOutput {
public:
    bool Write(const uint8_t* data, size_t length) override {
        bytes_ += length;
        return data != nullptr;
    }
    bool Flush() override { return true; }

private:
    size_t bytes_ = 0;
};

// What the records add for every file that a run changed: reading it back,
// the journal's record of it (hashes and delta, made in memory), and making
// that record durable; on a file of 64 KB whose comment grew.
template <class TTime>
int RecordSteps(int count, const TTime& time) {
    using namespace kes::journal;
    std::vector<uint8_t> before(64 << 10);
    for (size_t i = 0; i < before.size(); ++i) before[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
    std::vector<uint8_t> after = before;
    const std::string comment = "Kestrane benchmark comment";
    after.insert(after.begin() + 20, comment.begin(), comment.end());
    const std::string file = kes_test::ExeDir() + "steps.tmp";
    kes_test::WriteFileBytes(file, std::string(after.begin(), after.end()));
    const std::wstring wideFile(file.begin(), file.end());  // a name of this folder: ASCII

    int done = 0;
    time("read_back", [&](int) {
        std::unique_ptr<FileSource> source = FileSource::Open(wideFile);
        std::vector<uint8_t> bytes(source ? static_cast<size_t>(source->Size()) : 0);
        done += source && source->Read(0, bytes.data(), bytes.size());
    });
    // Of the record, the two hashes alone: of the old contents and the new file.
    time("record_hashes", [&](int) {
        Sha256 old, now;
        old.Update(before.data(), before.size());
        now.Update(after.data(), after.size());
        done += old.Final() && now.Final();
    });
    CMemoryOutput memory;
    JournalWriter writer(memory, 1, RunInfo{1, u"Z:\\bench\\", u"bench", u"kes_null.cpi"});
    done += writer.Begin();
    time("journal_record", [&](int i) {
        MemorySource source(after.data(), after.size());
        const WrittenFile written{u"Z:\\bench\\" + ToU16(std::to_wstring(i)), 1, FILE_ATTRIBUTE_ARCHIVE, 2};
        done += writer.AppendFile(written, before.data(), before.size(), source);
    });
    {
        CFileHandle out(CreateFileW(wideFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        const std::vector<uint8_t> record(200, 'r');
        time("journal_flush", [&](int) {
            DWORD written = 0;
            done += WriteFile(out.Get(), record.data(), static_cast<DWORD>(record.size()), &written, nullptr) &&
                    FlushFileBuffers(out.Get());
        });
    }
    DeleteFileA(file.c_str());
    return done == 4 * count + 1 ? 0 : Fail("a step of the records went wrong");
}

// The owner of a list like the preview's: every row says the same.
LRESULT CALLBACK ListOwnerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NOTIFY && reinterpret_cast<const NMHDR*>(lParam)->code == LVN_GETDISPINFOW) {
        LVITEMW& item = reinterpret_cast<NMLVDISPINFOW*>(lParam)->item;
        const wchar_t* text = item.iSubItem == 0 ? L"Z:\\bench\\data\\tree20000\\d012\\e3\\file012345.dat"
                              : item.iSubItem == 1 ? L"" : L"\u66f8\u304d\u8fbc\u307f\u307e\u3059";
        if ((item.mask & LVIF_TEXT) && item.pszText != nullptr) lstrcpynW(item.pszText, text, item.cchTextMax);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

// What the preview does every 500 ms besides its counter and bar: tell its
// list, drawn from the preview's own rows, how many rows there are now, in
// a window of the preview's size, with its columns and font.
template <class TTime, class TDispatch>
int PreviewListStep(int count, const TTime& time, const TDispatch& dispatch) {
    const INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    WNDCLASSW wc{};
    wc.lpfnWndProc = ListOwnerProc;
    wc.lpszClassName = L"KesBenchListOwner";
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    RegisterClassW(&wc);
    HWND owner = CreateWindowExW(0, wc.lpszClassName, L"list", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 900, 480,
                                 nullptr, nullptr, nullptr, nullptr);
    HWND list = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                                WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS, 8, 50, 864,
                                382, owner, nullptr, nullptr, nullptr);
    if (owner == nullptr || list == nullptr) return Fail("no list");
    HFONT font = CreateFontA(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "ＭＳ ゴシック");
    SendMessageW(list, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    for (const int width : {300, 200, 340}) {
        LVCOLUMNW column{};
        column.mask = LVCF_WIDTH;
        column.cx = width;
        SendMessageW(list, LVM_INSERTCOLUMNW, 3, reinterpret_cast<LPARAM>(&column));
    }
    dispatch();
    // More rows at each redraw, as files are read.
    time("redraw_preview_list", [&](int i) {
        SendMessageW(list, LVM_SETITEMCOUNT, 10 * i, LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
        dispatch();
    });
    const int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    DestroyWindow(owner);
    DeleteObject(font);
    return rows == 10 * count ? 0 : Fail("the list did not take its rows");
}

// What the steps that a run takes for every file besides reading it cost
// here, each timed over `count` calls in a window like the tool's: the
// Escape poll, the dispatch of pending messages, reading the comment field,
// and redrawing the counter and the bar; and the preview's list redrawn.
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
    if (PreviewListStep(count, time, dispatch) != 0) return 1;

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
    if (chars == 0) return Fail("the comment field read empty");
    return RecordSteps(count, time);
}

// The journals that runs left in the prefix's journal folder: their bytes,
// and deleting them, so that each run's are measured alone.
std::vector<kes::journal::RunFile> Journals() {
    return kes::journal::JournalStore(kes::journal::JournalStore::DefaultFolder()).Runs();
}

long long JournalBytes() {
    long long bytes = 0;
    for (const kes::journal::RunFile& run : Journals()) bytes += static_cast<long long>(run.size);
    return bytes;
}

bool DeleteJournals() {
    bool deleted = true;
    for (const kes::journal::RunFile& run : Journals()) deleted = DeleteFileW(run.path.c_str()) && deleted;
    return deleted;
}

// The program `exe` as kes_bat.exe, started in the folder `name` beside this
// one with `plugin` as its only plug-in, set for a run over `folder` and its
// subfolders; null when it did not start.
std::unique_ptr<kes_test::TKesDriver> StartTool(const std::string& exe, const std::string& name,
                                                const std::string& plugin, const std::string& folder) {
    const std::string dir = kes_test::ExeDir() + name + "\\";
    kes_test::RemoveTree(dir);
    CreateDirectoryA(dir.c_str(), nullptr);
    const std::string pluginName = plugin.substr(plugin.find_last_of('\\') + 1);
    if (!CopyFileA(exe.c_str(), (dir + "kes_bat.exe").c_str(), FALSE) ||
        !CopyFileA(plugin.c_str(), (dir + pluginName).c_str(), FALSE))
        return nullptr;
    auto tool = std::make_unique<kes_test::TKesDriver>(dir);
    if (!tool->Start()) return nullptr;
    tool->SetText(IDC_EDIT_DIR, folder);
    tool->SetChecked(IDC_CHECKBOX_SUBDIR, true);
    tool->ChooseCombo(0);
    return tool;
}

// A timed run that must find `files` files and write every one: the log
// then holds the count line and the completion line, and nothing else,
// since any further line names a file that failed. Empty, or what went wrong.
std::string Run(const kes_test::TKesDriver& tool, const std::string& comment, long files,
                const std::string& completed, kes_test::TRunTiming& timing) {
    tool.SetText(IDC_MEMO_COMMENT, comment);
    // Polled every 10 ms: each poll asks the window server, which the tool
    // needs for every file.
    if (!tool.TimedRun(timing, 3600 * 1000, 10)) return "the run did not start or end";
    if (timing.Files != static_cast<unsigned long>(files))
        return "the tool found " + std::to_string(timing.Files) + " files, the floor " + std::to_string(files);
    const std::vector<std::string> log = tool.LogLines();
    if (log.size() != 2 || log[1] != completed)
        return "the run did not complete cleanly (" + std::to_string(log.size()) + " log lines)";
    return std::string();
}

// A numbered text with its %1, %2... filled in.
std::string FillIn(std::string text, const std::vector<std::string>& values) {
    for (size_t i = values.size(); i-- > 0;) {
        const std::string mark = "%" + std::to_string(i + 1);
        for (size_t at; (at = text.find(mark)) != std::string::npos;) text.replace(at, mark.size(), values[i]);
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace kes_bench;
    if (argc == 3 && std::string(argv[1]) == "steps") return Steps(std::max(1, atoi(argv[2])));
    TFloorJob job;
    if (argc < 7 || !ParseFloorJob(argv[4], job) || atoi(argv[5]) < 1)
        return Fail("usage: kes_bench PLUGIN FOLDER PATTERN read|read-wide|rewrite RUNS COMMENT "
                    "[nowarmup] [plain] [preview] [long=N]");
    const std::string plugin = argv[1], folder = argv[2], pattern = argv[3], comment = argv[6];
    const int runs = atoi(argv[5]);
    const bool rewrite = job != TFloorJob::Read && job != TFloorJob::ReadWide;
    bool warmUp = true, plain = false, preview = false;
    std::string toolComment = comment;
    for (int i = 7; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "nowarmup") warmUp = false;
        else if (option == "plain") plain = true;
        else if (option == "preview") preview = true;
        else if (option.compare(0, 5, "long=") == 0)
            for (int n = atoi(option.c_str() + 5); n > 1; --n) toolComment += " " + comment;
        else return Fail("unknown option " + option);
    }

    const std::string toolExe = kes_test::ToolDir() + "kes_bat.exe";
    const std::string completed = ToolText(toolExe, IDS_LOG_COMPLETED);
    const std::string undone = ToolText(toolExe, IDS_UNDO_COMPLETED);
    if (completed.empty() || undone.empty()) return Fail("no completion message in the tool");
    const std::unique_ptr<kes_test::TKesDriver> tool = StartTool(toolExe, "tool", plugin, folder);
    if (!tool) return Fail("the tool did not start");
    std::unique_ptr<kes_test::TKesDriver> plainTool;
    if (plain && !(plainTool = StartTool(kes_test::ExeDir() + "kes_bat_plain.exe", "plain", plugin, folder)))
        return Fail("kes_bat_plain.exe did not start");
    const SIZE_T peakIdle = tool->PeakWorkingSet();

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

    std::vector<double> floorMs, directMs, toolMs, collectMs, writeMs, plainMs, plainCollectMs, undoMs, undoReadMs,
        previewMs, journalBytes;
    long files = 0;
    long long pathBytes = 0, fileBytes = 0;
    for (int run = warmUp ? 0 : 1; run <= runs; ++run) {
        const double floorStart = NowMs();
        const TFloorCount count = RunFloor(folder, pattern, job);
        const double floorTime = NowMs() - floorStart;
        if (count.Files == 0 || count.Failed != 0)
            return Fail("the floor failed on " + std::to_string(count.Failed) + " of " +
                        std::to_string(count.Files) + " files");
        files = count.Files;
        pathBytes = count.PathBytes;
        fileBytes = count.Bytes;

        // Of a plug-in that writes nothing, the floor says all already.
        double directTime = 0;
        if (rewrite) {
            const double directStart = NowMs();
            const TFloorCount directCount = WalkAndRead(folder, pattern, direct);
            directTime = NowMs() - directStart;
            if (directCount.Files != files || directCount.Failed != 0)
                return Fail("the plug-in alone failed on " + std::to_string(directCount.Failed) + " files");
        }

        // A plug-in leaves a file alone that already holds the comment, so
        // each run writes another one; the last writes COMMENT itself.
        const std::string written = (runs - run) % 2 == 0 ? toolComment : toolComment + " (before)";
        kes_test::TRunTiming timing, plainTiming, undoTiming, previewTiming;
        std::string error;
        // The plain run writes over the files as the tool found them: after
        // the tool's run is taken back, or before it, in the last round, so
        // that the files end as the tool left them, for the readers to check.
        const bool plainFirst = plain && run == runs;
        if (plainFirst) {
            error = Run(*plainTool, written, files, completed, plainTiming);
            if (!error.empty()) return Fail("kes_bat_plain.exe: " + error);
            if (rewrite && WalkAndRead(folder, pattern, direct).Failed != 0)
                return Fail("the plug-in alone could not put the files back");
        }
        if (!DeleteJournals()) return Fail("the journals of earlier runs could not be deleted");
        error = Run(*tool, written, files, completed, timing);
        if (!error.empty()) return Fail(error);
        const long long journal = JournalBytes();
        printf("run %d floor_ms %.1f", run, floorTime);
        if (rewrite) printf(" plugin_alone_ms %.1f", directTime);
        printf(" tool_ms %.1f collect_ms %.1f journal_bytes %lld", timing.TotalMs, timing.CollectMs, journal);
        if (plain && !plainFirst) {
            if (rewrite) {
                if (!tool->TimedUndo(undoTiming, folder, undone, 3600 * 1000, 10))
                    return Fail("the undo did not complete cleanly");
                if (undoTiming.Files != static_cast<unsigned long>(files) || tool->LogLines().size() != 2)
                    return Fail("the undo did not take back every file");
                printf(" undo_ms %.1f undo_read_ms %.1f", undoTiming.TotalMs, undoTiming.CollectMs);
            }
            error = Run(*plainTool, written, files, completed, plainTiming);
            if (!error.empty()) return Fail("kes_bat_plain.exe: " + error);
        }
        if (plain) printf(" plain_ms %.1f", plainTiming.TotalMs);
        if (preview) {
            if (!tool->TimedPreview(previewTiming, 3600 * 1000, 10)) return Fail("the preview did not start or end");
            // Every file, none of them refused.
            const std::string summary = kes_test::Narrow(tool->PreviewText(IDC_PREVIEW_SUMMARY));
            const std::string wanted = FillIn(ToolText(toolExe, IDS_PREVIEW_SUMMARY), {std::to_string(files), "0", "0"});
            if (previewTiming.Files != static_cast<unsigned long>(files) || summary != wanted)
                return Fail("the preview did not read every file: " + summary);
            PostMessageA(tool->PreviewWindow(), WM_CLOSE, 0, 0);
            printf(" preview_ms %.1f", previewTiming.TotalMs);
        }
        printf("%s\n", run == 0 ? " (warm-up, not counted)" : "");
        fflush(stdout);
        if (run == 0) continue;
        floorMs.push_back(floorTime);
        directMs.push_back(directTime);
        toolMs.push_back(timing.TotalMs);
        collectMs.push_back(timing.CollectMs);
        writeMs.push_back(timing.TotalMs - timing.CollectMs);
        journalBytes.push_back(static_cast<double>(journal));
        plainMs.push_back(plainTiming.TotalMs);
        plainCollectMs.push_back(plainTiming.CollectMs);
        if (undoTiming.TotalMs > 0) {
            undoMs.push_back(undoTiming.TotalMs);
            undoReadMs.push_back(undoTiming.CollectMs);
        }
        previewMs.push_back(previewTiming.TotalMs);
    }
    const SIZE_T peak = tool->PeakWorkingSet();
    for (kes_test::TKesDriver* t : {tool.get(), plainTool.get()}) {
        if (t == nullptr) continue;
        t->PostClose();
        if (t->WaitExit(15000) == STILL_ACTIVE) return Fail("the tool did not end");
    }

    const double floorMedian = Median(floorMs), toolMedian = Median(toolMs);
    printf("files %ld\nruns %d\npath_bytes %lld\nfile_bytes %lld\n", files, runs, pathBytes, fileBytes);
    printf("floor_ms %.1f\ntool_ms %.1f\ncollect_ms %.1f\nwrite_ms %.1f\n", floorMedian, toolMedian,
           Median(collectMs), Median(writeMs));
    printf("journal_bytes %.0f\n", Median(journalBytes));
    if (rewrite) printf("plugin_alone_ms %.1f\n", Median(directMs));
    if (plain) printf("plain_ms %.1f\nplain_collect_ms %.1f\n", Median(plainMs), Median(plainCollectMs));
    if (!undoMs.empty())
        printf("undo_ms %.1f\nundo_read_ms %.1f\nundo_runs %u\n", Median(undoMs), Median(undoReadMs),
               static_cast<unsigned>(undoMs.size()));
    if (preview) printf("preview_ms %.1f\n", Median(previewMs));
    printf("ratio %.3f\n", toolMedian / floorMedian);
    printf("peak_idle_bytes %lu\npeak_bytes %lu\n", static_cast<unsigned long>(peakIdle),
           static_cast<unsigned long>(peak));
    return 0;
}
