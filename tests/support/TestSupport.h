// Helpers shared by the tests: real folders and files under Wine, the test
// plug-ins built beside the test programs, and the probe's call log.
#ifndef KESTRANE_TEST_SUPPORT_H
#define KESTRANE_TEST_SUPPORT_H

#include <windows.h>

#include "FilePath.h"
#include "PathText.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace kes_test {

// A path or text that a test writes in the code page, as the tool takes it.
inline TFilePath AnsiPath(const std::string& path) { return TFilePath::FromAnsi(path); }
inline std::wstring AnsiText(const std::string& text) { return WidePath(text); }
// UTF-16 text in the code page, "?" for what it lacks: for comparing with
// texts a test wrote in the code page.
std::string Narrow(const std::wstring& text);

// Directory of the running test program, ending in '\'.
std::string ExeDir();
// Full path of a test plug-in variant, e.g. TestPlugin("probe").
std::string TestPlugin(const std::string& name);

std::string Hex(const std::string& bytes);

// A visible top-level window of process `pid` with the class name and, when
// `owner` is given, owned by it; null when there is none. Other programs of
// the same Wine session have windows too, so the search is by process.
HWND FindTopLevelWindow(DWORD pid, const char* className, HWND owner = nullptr);
std::string ReadFileBytes(const std::string& path);

// The entries that a search of `dir` (ending in '\') for `pattern` delivers,
// in its order, without "." and "..".
std::vector<WIN32_FIND_DATAA> FolderEntries(const std::string& dir, const std::string& pattern = "*");
void WriteFileBytes(const std::string& path, const std::string& bytes);

// A fresh directory under the temporary folder, removed with everything in
// it (read-only and hidden entries too) when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // The directory, ending in '\'.
    const std::string& Path() const { return path_; }
    // Path() + relative; creates nothing.
    std::string operator/(const std::string& relative) const { return path_ + relative; }
    // Creates relative (and its parents) as a directory; returns its path.
    std::string MakeDir(const std::string& relative) const;
    // Writes a file at relative, creating parent directories.
    std::string MakeFile(const std::string& relative, const std::string& bytes = "x") const;
    // Copies test plug-in variant `variant` here as `fileName`.
    std::string CopyPlugin(const std::string& variant, const std::string& fileName) const;

private:
    std::string path_;
};

// A file as the test plug-ins that read comments keep one: none when empty.
std::string Ktf(const std::wstring& comment);

// A file that tests/formats/make_samples.sh made with the formats' own
// tools, in the folder KES_SAMPLES names; the test fails without it.
std::string Sample(const std::string& name);

// Every file below `dir` (ending in '\'), of any name, with its bytes and
// the time it was last written.
using Snapshot = std::map<std::wstring, std::pair<std::string, ULONGLONG>>;
Snapshot TakeSnapshot(const std::wstring& dir);
// The files whose bytes or time differ between two snapshots, or that are
// in one of them only (marked " (new)" or " (gone)").
std::vector<std::wstring> Changes(const Snapshot& before, const Snapshot& after);

// Every file below `dir` dated years back, so that a rewrite shows even
// within the same second.
void AgeFiles(const std::wstring& dir);

// Runs a shell script of this machine with `arguments` as $1, $2, ... and
// waits for it; what it printed, or "(no answer)".
std::string RunShell(const std::string& script, const std::vector<std::string>& arguments = {});

// Removes the folder with everything in it, of any name and depth.
void RemoveTree(const std::string& path);

// Takes the write permission from a folder. Wine keeps no read-only bit of
// its own for folders: it reports the Unix permission, so that is what
// changes, through chmod.
void MakeReadOnlyDir(const std::string& path);

// The name under which this machine's Unix programs know a file or folder
// (UTF-8); empty if it has none.
std::string UnixPath(const std::wstring& path);
// Starts a Unix program of this machine by its path (e.g. "/bin/sh") with
// `arguments` (UTF-8), each of which may hold blanks and quotes; false if
// it could not be started.
bool StartUnixProgram(const std::string& program, const std::vector<std::string>& arguments);
// Runs a Unix program of this machine that makes the file `made` (a
// Windows path) as its last step, whole, by renaming, and waits for that
// file: the handle of a Unix process tells nothing of its end. False when
// it did not come within timeoutMs.
bool RunUnixProgram(const std::string& program, const std::vector<std::string>& arguments, const std::string& made,
                    DWORD timeoutMs = 120000);

// One WriteComment or WriteCommentW call as the probe recorded it; texts
// and bytes in hex (UTF-16 LE for the latter's path and comment).
struct TProbeWrite {
    std::string Window;  // the handle, in decimal
    std::string PathHex;
    std::string Size;
    std::string ContentsHex;
    std::string CommentHex;
    std::string Length;
    bool Wide = false;  // through WriteCommentW
};
// Hex of a UTF-16 text's bytes, as the probe records WriteCommentW's texts.
std::string WideHex(const std::wstring& text);

// The log every test plug-in writes when KES_PROBE_LOG names a file. Setting
// it up points the variable of this process (and of processes it starts) at
// a fresh file.
class ProbeLog {
public:
    ProbeLog();
    ~ProbeLog();
    const std::string& Path() const { return path_; }
    // All lines so far, without line ends, e.g. "probe.cpi GetPluginInfo 0 64".
    std::vector<std::string> Lines() const;
    // The WriteComment calls among the lines, in order.
    std::vector<TProbeWrite> Writes() const;
    void Clear() const;

private:
    TempDir dir_;
    std::string path_;
};

// This test program's own path.
std::wstring ExePath();

// Starts this test program again to run the one (disabled) test `test`,
// "Suite.DISABLED_Name", with its report thrown away; the child's process
// handle, which the caller closes, or nullptr when it did not start.
HANDLE StartChildTest(const std::wstring& test);

}  // namespace kes_test

#endif
