#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "PathText.h"
#include "WholeFile.h"

namespace kes_test {

std::string ExeDir() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string s(path, n);
    return s.substr(0, s.find_last_of('\\') + 1);
}

std::string TestPlugin(const std::string& name) { return ExeDir() + "plugins\\" + name + ".cpi"; }

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    ExactText(text, narrow);
    return narrow;
}

std::string WideHex(const std::wstring& text) {
    return Hex(std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t)));
}

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

namespace {

struct TWindowSearch {
    DWORD Pid;
    const char* ClassName;
    HWND Owner;
    HWND Found;
};

BOOL CALLBACK MatchTopLevel(HWND hwnd, LPARAM param) {
    TWindowSearch& s = *reinterpret_cast<TWindowSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    char cls[64] = "";
    GetClassNameA(hwnd, cls, sizeof cls);
    if (pid == s.Pid && lstrcmpA(cls, s.ClassName) == 0 && IsWindowVisible(hwnd) &&
        (s.Owner == nullptr || GetWindow(hwnd, GW_OWNER) == s.Owner)) {
        s.Found = hwnd;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND FindTopLevelWindow(DWORD pid, const char* className, HWND owner) {
    TWindowSearch search{pid, className, owner, nullptr};
    EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

std::vector<WIN32_FIND_DATAA> FolderEntries(const std::string& dir, const std::string& pattern) {
    std::vector<WIN32_FIND_DATAA> entries;
    WIN32_FIND_DATAA d;
    HANDLE h = FindFirstFileA((dir + pattern).c_str(), &d);
    if (h == INVALID_HANDLE_VALUE) return entries;
    do {
        if (lstrcmpA(d.cFileName, ".") != 0 && lstrcmpA(d.cFileName, "..") != 0) entries.push_back(d);
    } while (FindNextFileA(h, &d));
    FindClose(h);
    return entries;
}

std::string Ktf(const std::wstring& comment) {
    return "KTF1" + std::string(reinterpret_cast<const char*>(comment.data()), comment.size() * sizeof(wchar_t)) +
           "END!";
}

std::string Sample(const std::string& name) {
    const char* dir = std::getenv("KES_SAMPLES");
    if (dir == nullptr) {
        ADD_FAILURE() << "KES_SAMPLES names no folder of samples";
        return std::string();
    }
    // A Unix path; Wine shows the root as Z:.
    std::string path = std::string("Z:") + dir + "/" + name;
    std::replace(path.begin(), path.end(), '/', '\\');
    return ReadFileBytes(path);
}

namespace {

void AddToSnapshot(const std::wstring& dir, Snapshot& files) {
    WIN32_FIND_DATAW d;
    HANDLE h = FindFirstFileW(TFilePath(dir + L"*").Win32().c_str(), &d);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = d.cFileName, path = dir + name;
        if (name == L"." || name == L"..") continue;
        if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            AddToSnapshot(path + L"\\", files);
            continue;
        }
        TFileContents contents;
        const bool read = ReadWholeFile(TFilePath(path).Win32(), contents) == TReadResult::Read;
        files[path] = {read ? std::string(contents.View()) : "(cannot read)", Join64(d.ftLastWriteTime)};
    } while (FindNextFileW(h, &d));
    FindClose(h);
}

}  // namespace

Snapshot TakeSnapshot(const std::wstring& dir) {
    Snapshot files;
    AddToSnapshot(dir, files);
    return files;
}

std::vector<std::wstring> Changes(const Snapshot& before, const Snapshot& after) {
    std::vector<std::wstring> changed;
    for (const auto& [path, state] : before) {
        const auto now = after.find(path);
        if (now == after.end()) changed.push_back(path + L" (gone)");
        else if (now->second != state) changed.push_back(path);
    }
    for (const auto& entry : after)
        if (before.count(entry.first) == 0) changed.push_back(entry.first + L" (new)");
    return changed;
}

void AgeFiles(const std::wstring& dir) {
    for (const auto& entry : TakeSnapshot(dir)) {
        HANDLE file = CreateFileW(TFilePath(entry.first).Win32().c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
        const FILETIME old{0x12345678, 0x01c00000};
        EXPECT_TRUE(file != INVALID_HANDLE_VALUE && SetFileTime(file, nullptr, nullptr, &old)) << Narrow(entry.first);
        CloseHandle(file);
    }
}

std::string RunShell(const std::string& script, const std::vector<std::string>& arguments) {
    TempDir work;
    const std::string out = work / "out";
    std::vector<std::string> all = {"-c", "(" + script + ") > \"$0.part\" 2>&1; mv \"$0.part\" \"$0\"",
                                    UnixPath(AnsiText(out))};
    all.insert(all.end(), arguments.begin(), arguments.end());
    if (!RunUnixProgram("/bin/sh", all, out)) return "(no answer)";
    return ReadFileBytes(out);
}

std::string ReadFileBytes(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "cannot open " << path;
        return std::string();
    }
    std::string out;
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) out.append(buf, got);
    CloseHandle(h);
    return out;
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << "cannot create " << path;
    DWORD written = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
    ASSERT_EQ(written, bytes.size());
}

namespace {

std::wstring Utf16(const std::string& utf8) {
    std::wstring wide(utf8.size(), L'\0');
    wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                                        wide.data(), static_cast<int>(wide.size()))));
    return wide;
}

void RemoveWideTree(const std::wstring& path) {
    WIN32_FIND_DATAW d;
    HANDLE h = FindFirstFileW(TFilePath(path + L"\\*").Win32().c_str(), &d);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = d.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path + L"\\" + name;
            const std::wstring system = TFilePath(child).Win32();
            SetFileAttributesW(system.c_str(), FILE_ATTRIBUTE_NORMAL | (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY));
            if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveWideTree(child);
            else
                DeleteFileW(system.c_str());
        } while (FindNextFileW(h, &d));
        FindClose(h);
    }
    const std::wstring system = TFilePath(path).Win32();
    SetFileAttributesW(system.c_str(), FILE_ATTRIBUTE_DIRECTORY);
    RemoveDirectoryW(system.c_str());
}

// The arguments as one command line that splits back into them by the
// rules of Windows, which Wine follows for Unix programs too: each in
// quotes, a quote in it escaped, and backslashes doubled where they come
// before a quote.
std::wstring CommandLine(const std::vector<std::string>& arguments) {
    std::wstring line;
    for (const std::string& argument : arguments) {
        if (!line.empty()) line += L' ';
        line += L'"';
        size_t backslashes = 0;
        for (wchar_t c : Utf16(argument)) {
            if (c == L'"') line.append(backslashes + 1, L'\\');
            backslashes = c == L'\\' ? backslashes + 1 : 0;
            line += c;
        }
        line.append(backslashes, L'\\');
        line += L'"';
    }
    return line;
}

}  // namespace

// Through the wide calls: a test's folder may hold names that the code
// page lacks, and paths too long for the plain form.
void RemoveTree(const std::string& path) { RemoveWideTree(AnsiText(path)); }

std::string UnixPath(const std::wstring& path) {
    using UnixName = char*(CDECL*)(LPCWSTR);
    FARPROC proc = GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
    EXPECT_NE(proc, nullptr) << "these tests run under Wine";
    if (proc == nullptr) return std::string();
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wcast-function-type"
    char* unix = reinterpret_cast<UnixName>(proc)(TFilePath(path).Win32().c_str());
#pragma GCC diagnostic pop
    if (unix == nullptr) return std::string();
    const std::string name = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return name;
}

bool StartUnixProgram(const std::string& program, const std::vector<std::string>& arguments) {
    // Wine starts a Unix program by its path on the Z: drive, which shows
    // the Unix root, and hands it the arguments in UTF-8.
    std::wstring application = L"Z:" + Utf16(program);
    std::replace(application.begin(), application.end(), L'/', L'\\');
    std::vector<std::string> all{program};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::wstring command = CommandLine(all);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(application.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return true;
}

bool RunUnixProgram(const std::string& program, const std::vector<std::string>& arguments, const std::string& made,
                    DWORD timeoutMs) {
    if (!StartUnixProgram(program, arguments)) return false;
    const DWORD start = GetTickCount();
    while (GetFileAttributesA(made.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(50);
    }
    return true;
}

void MakeReadOnlyDir(const std::string& path) {
    const std::string unix = UnixPath(AnsiText(path));
    ASSERT_FALSE(unix.empty()) << path;
    // Started through the code page's call with a plain command line: the
    // same start through StartUnixProgram left the test program's window
    // deaf to messages posted to it afterwards under Wine 8.
    std::string command = "/bin/chmod a-w \"" + unix + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessA("Z:\\bin\\chmod", &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    // The handle of a Unix process tells nothing of its end: wait for the
    // change itself.
    for (int i = 0; i < 500 && !(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_READONLY); ++i) Sleep(20);
    ASSERT_TRUE(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_READONLY) << path;
}

TempDir::TempDir() {
    char base[MAX_PATH];
    GetTempPathA(sizeof base, base);
    static unsigned counter;
    for (;;) {
        std::ostringstream name;
        name << base << "kes_" << GetCurrentProcessId() << "_" << GetTickCount() << "_" << ++counter;
        if (CreateDirectoryA(name.str().c_str(), nullptr)) {
            path_ = name.str() + "\\";
            return;
        }
    }
}

TempDir::~TempDir() { RemoveTree(path_.substr(0, path_.size() - 1)); }

std::string TempDir::MakeDir(const std::string& relative) const {
    // Each level in turn; a '\\' byte inside a double-byte character (as in
    // "表") is part of a name.
    for (std::string::size_type i = 0; i < relative.size(); ++i) {
        if (IsDBCSLeadByte(static_cast<BYTE>(relative[i])) && i + 1 < relative.size())
            ++i;
        else if (relative[i] == '\\')
            CreateDirectoryA((path_ + relative.substr(0, i)).c_str(), nullptr);
    }
    CreateDirectoryA((path_ + relative).c_str(), nullptr);
    return path_ + relative;
}

std::string TempDir::MakeFile(const std::string& relative, const std::string& bytes) const {
    const std::string parent = ExtractFilePath(relative);
    if (!parent.empty()) MakeDir(parent.substr(0, parent.size() - 1));
    WriteFileBytes(path_ + relative, bytes);
    return path_ + relative;
}

std::string TempDir::CopyPlugin(const std::string& variant, const std::string& fileName) const {
    std::string to = path_ + fileName;
    EXPECT_TRUE(CopyFileA(TestPlugin(variant).c_str(), to.c_str(), FALSE)) << variant;
    return to;
}

ProbeLog::ProbeLog() : path_(dir_ / "probe.log") {
    SetEnvironmentVariableA("KES_PROBE_LOG", path_.c_str());
}

ProbeLog::~ProbeLog() { SetEnvironmentVariableA("KES_PROBE_LOG", nullptr); }

std::vector<std::string> ProbeLog::Lines() const {
    std::vector<std::string> lines;
    if (GetFileAttributesA(path_.c_str()) == INVALID_FILE_ATTRIBUTES) return lines;
    std::istringstream in(ReadFileBytes(path_));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::vector<TProbeWrite> ProbeLog::Writes() const {
    std::vector<TProbeWrite> writes;
    for (const std::string& line : Lines()) {
        // "<module> WriteComment <window> <path> ptr <size> <contents> <comment> <length>";
        // an empty text leaves its field empty between two blanks.
        std::vector<std::string> f;
        std::string::size_type at = 0;
        for (;;) {
            const std::string::size_type next = line.find(' ', at);
            f.push_back(line.substr(at, next == std::string::npos ? next : next - at));
            if (next == std::string::npos) break;
            at = next + 1;
        }
        if (f.size() != 9 || (f[1] != "WriteComment" && f[1] != "WriteCommentW")) continue;
        writes.push_back({f[2], f[3], f[5], f[6], f[7], f[8], f[1] == "WriteCommentW"});
    }
    return writes;
}

void ProbeLog::Clear() const { DeleteFileA(path_.c_str()); }

std::wstring ExePath() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::wstring(path, n);
}

HANDLE StartChildTest(const std::wstring& test) {
    std::wstring command = L"\"" + ExePath() + L"\" --gtest_filter=" + test + L" --gtest_also_run_disabled_tests";
    // The child's own report would only clutter the parent's.
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE nul = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = nul;
    PROCESS_INFORMATION child{};
    const BOOL started =
        CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child);
    if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
    if (!started) return nullptr;
    CloseHandle(child.hThread);
    return child.hProcess;
}

}  // namespace kes_test
