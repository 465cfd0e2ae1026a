// A plug-in for tests, built in many variants by compile definitions:
//   TAG="..."         the text answered for info 0 (default "CPI1")
//   TAG_BYTES=n       how many bytes of TAG to copy (to place bytes after a NUL)
//   TAG_RESULT=n      the result for info 0 (default 1)
//   INFO1, PATTERNS, DESCRIPTION   texts for info 1, 2, 3
//   UPPER_PATTERNS    patterns "*.TXT;*.Dat"
//   GAPPY_PATTERNS    patterns "*.txt;;*.TXT;"
//   INFO1_FILL64      info 1 fills all 64 bytes with no NUL
//   CAPS=n            the first capability query's answer (default 17)
//   CAPS_SECOND=n     the answer from the second query on (default CAPS)
//   DIALOG_RESULT=n   what an about or settings dialog returns (default 0)
//   NO_INFO, NO_CONFIG, NO_WRITE   leave that export out
//   UNICODE_WRITE     also exports WriteCommentW, which the host then calls
//                     instead of WriteComment
//   READ_COMMENT      also exports ReadCommentW, for files of the form
//                     "KTF1" + the comment in UTF-16 + "END!" (no comment
//                     when empty); any other file is refused (CpiRefused)
//   PLANS             also exports PlanCommentW, ReleasePlanW and
//                     ReadCommentBytesW: the plan spells that form, keeping
//                     "KTF1" and "END!" of a file already in it as ranges
//                     of the contents and giving the rest as new bytes; it
//                     keeps the file's time for contents that begin
//                     "TIME". Contents that begin "BADP" (a range past
//                     the end), "BADW" (a range whose end wraps around),
//                     "BADN" (no pieces for a count of three), "BADB" (new
//                     bytes past the end of memory) or "BADT" (more than
//                     4 GiB in all) get a plan that does not hold together
//   NO_RELEASE_PLAN   ...without ReleasePlanW
//   WRITES_FILES      the writes rewrite the file in that form, with the
//                     comment's bytes as given
//   WRONG_COMMENT     ...with "!" after the comment
//   WRONG_TAIL=n      ...n times (default once)
//   TRUNCATE          ...without the closing "END!"
//   BACKUP_LEFT       ...and WriteCommentW answers CpiBackupLeft when it
//                     has written
//   DELETES_FILES     the writes delete the file and answer 3, or 0 for
//                     contents that begin with "DEL0"
//   GATE              a write whose contents begin with "WAIT" sets the event
//                     named by KES_GATE with "_reached" appended, then waits
//                     for the one with "_open", so that a test can act while
//                     the host is inside a known file
// Every variant records each call it receives, one line each, to the file
// named by KES_PROBE_LOG when that is set. A write whose contents begin with
// "FAIL" returns 7, so that runs can have failing files. Each plan is
// numbered in its PlanCommentW line, and ReleasePlanW names the number.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "cpi.h"

#ifndef TAG
#define TAG "CPI1"
#endif
#ifndef TAG_BYTES
#define TAG_BYTES sizeof(TAG)
#endif
#ifndef TAG_RESULT
#define TAG_RESULT 1
#endif
#ifndef INFO1
#define INFO1 "test plug-in 1.0"
#endif
// A ';' cannot pass through the build's definitions, so lists are named here.
#ifdef UPPER_PATTERNS
#define PATTERNS "*.TXT;*.Dat"
#endif
#ifdef GAPPY_PATTERNS  // empty items, and every .txt matched twice
#define PATTERNS "*.txt;;*.TXT;"
#endif
#ifndef PATTERNS
#define PATTERNS "*.txt"
#endif
#ifndef DESCRIPTION
#define DESCRIPTION "test files"
#endif
#ifndef CAPS
#define CAPS 17
#endif
#ifndef CAPS_SECOND
#define CAPS_SECOND CAPS
#endif
#ifndef DIALOG_RESULT
#define DIALOG_RESULT 0
#endif

namespace {

HMODULE self;
[[maybe_unused]] int capabilityQueries;

[[maybe_unused]] std::string Hex(const void* data, DWORD size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    const unsigned char* p = static_cast<const unsigned char*>(data);
    for (DWORD i = 0; i < size; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}

// Appends one line to the log, opening and closing it each time so that
// nothing is lost if the host dies.
void Log(const std::string& line) {
    char path[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("KES_PROBE_LOG", path, sizeof path);
    if (n == 0 || n >= sizeof path) return;
    char module[MAX_PATH] = "";
    GetModuleFileNameA(self, module, sizeof module);
    const char* name = strrchr(module, '\\');
    name = name ? name + 1 : module;
    const std::string text = std::string(name) + " " + line + "\r\n";
    HANDLE h = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    DWORD written;
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(h);
}

std::string Num(long long v) { return std::to_string(v); }

[[maybe_unused]] int CopyInfo(LPSTR buffer, int size, const char* text, size_t bytes) {
    memcpy(buffer, text, bytes < static_cast<size_t>(size) ? bytes : size);
    return 1;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        self = instance;
        Log("load");
    } else if (reason == DLL_PROCESS_DETACH) {
        // FreeLibrary passes null; the end of the process does not.
        Log(reserved == nullptr ? "unload" : "exit");
    }
    return TRUE;
}

#ifndef NO_INFO
int WINAPI GetPluginInfo(int info, LPSTR buffer, int size) {
    Log("GetPluginInfo " + Num(info) + " " + Num(size));
    switch (info) {
    case InfoTag:
        CopyInfo(buffer, size, TAG, TAG_BYTES);
        return TAG_RESULT;
    case InfoVersion:
#ifdef INFO1_FILL64
        memset(buffer, 'v', size);
        return 1;
#else
        return CopyInfo(buffer, size, INFO1, sizeof(INFO1));
#endif
    case InfoPatterns:
        return CopyInfo(buffer, size, PATTERNS, sizeof(PATTERNS));
    case InfoDescription:
        return CopyInfo(buffer, size, DESCRIPTION, sizeof(DESCRIPTION));
    }
    return 0;
}
#endif

#ifndef NO_CONFIG
int WINAPI ConfigurationDlg(HWND window, int mode) {
    Log("ConfigurationDlg " + Num(reinterpret_cast<UINT_PTR>(window)) + " " + Num(mode));
    if (mode == ModeQuery) return capabilityQueries++ == 0 ? CAPS : CAPS_SECOND;
    return DIALOG_RESULT;
}
#endif

#ifdef GATE
void WaitAtGate() {
    char name[MAX_PATH];
    const DWORD n = GetEnvironmentVariableA("KES_GATE", name, sizeof name - 16);
    if (n == 0 || n >= sizeof name - 16) return;
    const std::string base(name, n);
    HANDLE reached = OpenEventA(EVENT_MODIFY_STATE, FALSE, (base + "_reached").c_str());
    HANDLE open = OpenEventA(SYNCHRONIZE, FALSE, (base + "_open").c_str());
    if (reached != nullptr && open != nullptr) {
        SetEvent(reached);
        WaitForSingleObject(open, 60000);
    }
    if (reached != nullptr) CloseHandle(reached);
    if (open != nullptr) CloseHandle(open);
}
#endif

#ifdef WRITES_FILES
int Rewrite(const std::wstring& path, const void* comment, size_t bytes) {
    std::string contents = "KTF1" + std::string(static_cast<const char*>(comment), bytes);
#ifdef WRONG_COMMENT
#ifndef WRONG_TAIL
#define WRONG_TAIL 1
#endif
    const std::wstring tail(WRONG_TAIL, L'!');
    contents.append(reinterpret_cast<const char*>(tail.data()), tail.size() * (bytes % 2 == 0 ? 2 : 1));
#endif
#ifndef TRUNCATE
    contents += "END!";
#endif
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return CpiFileFailed;
    DWORD written = 0;
    const BOOL ok = WriteFile(h, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr);
    CloseHandle(h);
    return ok ? 0 : CpiFileFailed;
}
#endif

#if defined(READ_COMMENT) || defined(PLANS)
bool IsKtf(const void* contents, DWORD size) {
    const char* bytes = static_cast<const char*>(contents);
    return size >= 8 && size % 2 == 0 && memcmp(bytes, "KTF1", 4) == 0 && memcmp(bytes + size - 4, "END!", 4) == 0;
}

// The read exports' answer for a file of the KTF1 form.
int AnswerKtf(const void* contents, DWORD size, LPWSTR comment, DWORD* length) {
    if (!IsKtf(contents, size)) return CpiRefused;
    const DWORD units = (size - 8) / 2;
    if (units == 0) {
        *length = CPI_NO_COMMENT;
        return 0;
    }
    if (*length > units) {
        memcpy(comment, static_cast<const char*>(contents) + 4, units * sizeof(wchar_t));
        comment[units] = L'\0';
    }
    *length = units;
    return 0;
}
#endif

#ifdef READ_COMMENT
extern "C" __declspec(dllexport) int WINAPI ReadCommentW(LPCWSTR path, const void* contents, DWORD size,
                                                         LPWSTR comment, DWORD* length) {
    Log("ReadCommentW " + Hex(path, static_cast<DWORD>(wcslen(path) * sizeof(wchar_t))) + " " + Num(size) + " " +
        Num(*length));
    return AnswerKtf(contents, size, comment, length);
}
#endif

#ifdef PLANS
namespace {

struct Plan {
    int number;
    std::string comment;
    CpiPiece pieces[3];
};
int plans;

bool Begins(const void* contents, DWORD size, const char* what) {
    return size >= 4 && memcmp(contents, what, 4) == 0;
}

}  // namespace

extern "C" __declspec(dllexport) int WINAPI PlanCommentW(LPCWSTR path, const void* contents, DWORD size,
                                                         LPCWSTR comment, DWORD length, CpiPlan* plan) {
    const int number = ++plans;
    Log("PlanCommentW " + Num(number) + " " + Hex(path, static_cast<DWORD>(wcslen(path) * sizeof(wchar_t))) + " " +
        Num(size) + " " + Hex(contents, size) + " " + Hex(comment, length * sizeof(wchar_t)) + " " + Num(length));
    if (Begins(contents, size, "FAIL")) return CpiCommentNotHeld;
    static const char head[] = "KTF1", tail[] = "END!";
    Plan* p = new Plan{number, std::string(reinterpret_cast<const char*>(comment), length * sizeof(wchar_t)), {}};
    const bool ktf = IsKtf(contents, size);
    p->pieces[0] = ktf ? CpiPiece{nullptr, 0, 4} : CpiPiece{head, 0, 4};
    p->pieces[1] = CpiPiece{p->comment.data(), 0, static_cast<DWORD>(p->comment.size())};
    p->pieces[2] = ktf ? CpiPiece{nullptr, size - 4, 4} : CpiPiece{tail, 0, 4};
    plan->pieceCount = 3;
    plan->pieces = p->pieces;
    if (Begins(contents, size, "BADP")) p->pieces[2] = CpiPiece{nullptr, size - 3, 4};
    if (Begins(contents, size, "BADW")) p->pieces[2] = CpiPiece{nullptr, 0xFFFFFFFF, 2};
    if (Begins(contents, size, "BADN")) plan->pieces = nullptr;
    if (Begins(contents, size, "BADB")) p->pieces[1] = CpiPiece{reinterpret_cast<const void*>(0xFFFFFF00), 0, 0x200};
    if (Begins(contents, size, "BADT")) p->pieces[0] = p->pieces[2] = CpiPiece{head, 0, 0x80000000};
    plan->flags = Begins(contents, size, "TIME") ? CpiPlanKeepTime : 0;
    plan->owner = p;
    return 0;
}

#ifndef NO_RELEASE_PLAN
extern "C" __declspec(dllexport) void WINAPI ReleasePlanW(CpiPlan* plan) {
    Plan* p = static_cast<Plan*>(plan->owner);
    Log("ReleasePlanW " + Num(p ? p->number : 0));
    delete p;
}
#endif

extern "C" __declspec(dllexport) int WINAPI ReadCommentBytesW(const void* contents, DWORD size, LPWSTR comment,
                                                              DWORD* length) {
    Log("ReadCommentBytesW " + Num(size) + " " + Hex(contents, size) + " " + Num(*length));
    return AnswerKtf(contents, size, comment, length);
}
#endif

#ifdef UNICODE_WRITE
extern "C" __declspec(dllexport) int WINAPI WriteCommentW(HWND window, LPCWSTR path, const void* contents,
                                                          DWORD size, LPCWSTR comment, DWORD length) {
    Log("WriteCommentW " + Num(reinterpret_cast<UINT_PTR>(window)) + " " +
        Hex(path, static_cast<DWORD>(wcslen(path) * sizeof(wchar_t))) + " " + (contents ? "ptr" : "null") + " " +
        Num(size) + " " + Hex(contents, size) + " " +
        Hex(comment, static_cast<DWORD>(wcslen(comment) * sizeof(wchar_t))) + " " + Num(length));
#ifdef GATE
    if (size >= 4 && memcmp(contents, "WAIT", 4) == 0) WaitAtGate();
#endif
    if (size >= 4 && memcmp(contents, "FAIL", 4) == 0) return CpiCommentNotHeld;
#ifdef WRITES_FILES
    const int written = Rewrite(path, comment, length * sizeof(wchar_t));
#ifdef BACKUP_LEFT
    if (written == 0) return CpiBackupLeft;
#endif
    return written;
#else
    return 0;
#endif
}
#endif

#ifndef NO_WRITE
int WINAPI WriteComment(HWND window, LPCSTR path, const void* contents, DWORD size,
                        LPCSTR comment, DWORD length) {
    Log("WriteComment " + Num(reinterpret_cast<UINT_PTR>(window)) + " " + Hex(path, strlen(path)) +
        " " + (contents ? "ptr" : "null") + " " + Num(size) + " " + Hex(contents, size) + " " +
        Hex(comment, strlen(comment)) + " " + Num(length));
#ifdef GATE
    if (size >= 4 && memcmp(contents, "WAIT", 4) == 0) WaitAtGate();
#endif
    if (size >= 4 && memcmp(contents, "FAIL", 4) == 0) return 7;
#ifdef DELETES_FILES
    DeleteFileA(path);
    return size >= 4 && memcmp(contents, "DEL0", 4) == 0 ? 0 : 3;
#endif
#ifdef WRITES_FILES
    std::wstring wide(MAX_PATH, L'\0');
    wide.resize(MultiByteToWideChar(CP_ACP, 0, path, -1, wide.data(), MAX_PATH) - 1);
    return Rewrite(wide, comment, length);
#else
    return 0;
#endif
}
#endif
