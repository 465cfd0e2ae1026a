#include "Floor.h"

#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#endif

namespace kes_bench {

bool ParseFloorJob(const std::string& name, TFloorJob& job) {
    if (name == "read") job = TFloorJob::Read;
#ifdef _WIN32
    else if (name == "read-wide") job = TFloorJob::ReadWide;
#endif
    else if (name == "rewrite") job = TFloorJob::Rewrite;
    else if (name == "rewrite-noflush") job = TFloorJob::RewriteNoFlush;
    else return false;
    return true;
}

#ifdef _WIN32

namespace {

class CHandle {
public:
    explicit CHandle(HANDLE h) : h_(h) {}
    ~CHandle() { Close(); }
    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;
    bool IsOpen() const { return h_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return h_; }
    void Close() {
        if (IsOpen()) CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE h_;
};

// The code page calls and the UTF-16 ones, chosen by the path's type, so
// that one walk serves both floors: the one for names the code page holds,
// as it always was, and the one for names of any character, which only the
// UTF-16 calls reach.
HANDLE FindFirst(const std::string& mask, WIN32_FIND_DATAA& data) { return FindFirstFileA(mask.c_str(), &data); }
HANDLE FindFirst(const std::wstring& mask, WIN32_FIND_DATAW& data) { return FindFirstFileW(mask.c_str(), &data); }
BOOL FindNext(HANDLE h, WIN32_FIND_DATAA& data) { return FindNextFileA(h, &data); }
BOOL FindNext(HANDLE h, WIN32_FIND_DATAW& data) { return FindNextFileW(h, &data); }
HANDLE OpenToRead(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}
HANDLE OpenToRead(const std::wstring& path) {
    return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

template <class TString>
struct TFindData;
template <>
struct TFindData<std::string> {
    using Type = WIN32_FIND_DATAA;
};
template <>
struct TFindData<std::wstring> {
    using Type = WIN32_FIND_DATAW;
};

template <class TString>
class CFind {
public:
    using TData = typename TFindData<TString>::Type;
    explicit CFind(const TString& mask) : h_(FindFirst(mask, data_)) {}
    ~CFind() {
        if (h_ != INVALID_HANDLE_VALUE) FindClose(h_);
    }
    CFind(const CFind&) = delete;
    CFind& operator=(const CFind&) = delete;
    bool Found() const { return h_ != INVALID_HANDLE_VALUE; }
    bool Next() { return FindNext(h_, data_) != FALSE; }
    const TData& Data() const { return data_; }

private:
    TData data_;
    HANDLE h_;
};

// As the tool reads a file for its plug-in: size, one buffer, one read.
template <class TString>
bool ReadWhole(const TString& path, std::unique_ptr<char[]>& buffer, DWORD& size) {
    CHandle file(OpenToRead(path));
    if (!file.IsOpen()) return false;
    LARGE_INTEGER end{};
    if (!GetFileSizeEx(file.Get(), &end)) return false;
    size = static_cast<DWORD>(end.QuadPart);
    buffer.reset(new (std::nothrow) char[size + 1]);
    DWORD got = 0;
    return buffer && ReadFile(file.Get(), buffer.get(), size, &got, nullptr) && got == size;
}

// The steps a careful rewrite cannot leave out: a temporary file beside the
// target, created once with the target's attributes and given its
// modification time, then the same replace call as the bundled plug-ins
// make: ReplaceFileA, with a backup name so that no failure loses the
// original, which is deleted afterwards.
bool Rewrite(const std::string& path, const char* data, size_t size, bool flush) {
    WIN32_FILE_ATTRIBUTE_DATA target;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &target)) return false;
    static unsigned long next = GetTickCount();
    char name[16];
    snprintf(name, sizeof name, "flr%08lX", next++);
    const std::string stem = path.substr(0, path.find_last_of('\\') + 1) + name;
    const std::string temp = stem + ".tmp", backup = stem + ".bak";
    const DWORD attributes = target.dwFileAttributes & ~FILE_ATTRIBUTE_DIRECTORY;
    bool ok;
    {
        CHandle h(CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!h.IsOpen()) return false;
        DWORD written = 0;
        ok = WriteFile(h.Get(), data, static_cast<DWORD>(size), &written, nullptr) && written == size &&
             SetFileTime(h.Get(), nullptr, nullptr, &target.ftLastWriteTime) && (!flush || FlushFileBuffers(h.Get()));
    }
    ok = ok && ReplaceFileA(path.c_str(), temp.c_str(), backup.c_str(), 0, nullptr, nullptr);
    DeleteFileA(ok ? backup.c_str() : temp.c_str());
    return ok;
}

// The names of a folder are listed before any is rewritten: a rename into
// the folder during its listing could show a file twice.
template <class TString, class TStep>
void Walk(const TString& dir, const TString& pattern, const TStep& write, TFloorCount& count) {
    using TChar = typename TString::value_type;
    static const TChar dot[] = {'.', 0}, dotDot[] = {'.', '.', 0}, all[] = {'*', 0};
    std::vector<TString> names;
    {
        CFind<TString> files(dir + pattern);
        if (files.Found()) do {
                if (!(files.Data().dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    names.push_back(files.Data().cFileName);
            } while (files.Next());
    }
    for (const TString& name : names) {
        const TString path = dir + name;
        std::unique_ptr<char[]> buffer;
        DWORD size = 0;
        bool ok = ReadWhole(path, buffer, size);
        if (ok && write) ok = write(path, buffer.get(), size);
        ++count.Files;
        count.Bytes += size;
        count.PathBytes += static_cast<long long>((path.size() + 1) * sizeof(TChar));
        if (!ok) ++count.Failed;
    }
    CFind<TString> dirs(dir + all);
    if (!dirs.Found()) return;
    do {
        const auto& d = dirs.Data();
        const TString name = d.cFileName;
        if ((d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != dot && name != dotDot)
            Walk(dir + name + TChar('\\'), pattern, write, count);
    } while (dirs.Next());
}

std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                                        &wide[0], static_cast<int>(wide.size()))));
    return wide;
}

// The same walk with UTF-16 names, reading only.
TFloorCount WalkAndReadWide(const std::string& root, const std::string& pattern) {
    TFloorCount count;
    std::wstring dir = Wide(root);
    if (dir.empty() || dir.back() != L'\\') dir += L'\\';
    const std::function<bool(const std::wstring&, const char*, size_t)> none;
    Walk(dir, Wide(pattern), none, count);
    return count;
}

}  // namespace

TFloorCount WalkAndRead(const std::string& root, const std::string& pattern, const TWriteStep& write) {
    TFloorCount count;
    std::string dir = root;
    if (dir.empty() || dir.back() != '\\') dir += '\\';
    Walk(dir, pattern, write, count);
    return count;
}

double NowMs() {
    static LARGE_INTEGER frequency{};
    if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

#else  // native

namespace {

class CFd {
public:
    explicit CFd(int fd) : fd_(fd) {}
    ~CFd() { Close(); }
    CFd(const CFd&) = delete;
    CFd& operator=(const CFd&) = delete;
    bool IsOpen() const { return fd_ >= 0; }
    int Get() const { return fd_; }
    void Close() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

bool ReadWhole(const std::string& path, std::unique_ptr<char[]>& buffer, size_t& size) {
    CFd file(open(path.c_str(), O_RDONLY));
    struct stat st;
    if (!file.IsOpen() || fstat(file.Get(), &st) != 0) return false;
    size = static_cast<size_t>(st.st_size);
    buffer.reset(new (std::nothrow) char[size + 1]);
    return buffer && read(file.Get(), buffer.get(), size) == static_cast<ssize_t>(size);
}

bool Rewrite(const std::string& path, const char* data, size_t size, bool flush) {
    struct stat target;
    if (stat(path.c_str(), &target) != 0) return false;
    std::string temp = path.substr(0, path.find_last_of('/') + 1) + "flrXXXXXX";
    CFd h(mkstemp(&temp[0]));
    if (!h.IsOpen()) return false;
    const struct timespec times[2] = {target.st_atim, target.st_mtim};
    bool ok = write(h.Get(), data, size) == static_cast<ssize_t>(size) && futimens(h.Get(), times) == 0 &&
              fchmod(h.Get(), target.st_mode & 07777) == 0 && (!flush || fsync(h.Get()) == 0);
    h.Close();
    ok = ok && rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) unlink(temp.c_str());
    return ok;
}

void Walk(const std::string& dir, const std::string& pattern, const TWriteStep& write, TFloorCount& count) {
    // One listing serves both passes here: a native listing takes no mask,
    // so matching by name costs the same either way. As above, the names
    // are all read before any file is rewritten.
    std::vector<std::string> names, folders;
    {
        DIR* d = opendir(dir.c_str());
        if (d == nullptr) return;
        std::unique_ptr<DIR, int (*)(DIR*)> owner(d, closedir);
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            if (e->d_type == DT_DIR) folders.push_back(name);
            else if (fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) == 0) names.push_back(name);
        }
    }
    for (const std::string& name : names) {
        const std::string path = dir + name;
        std::unique_ptr<char[]> buffer;
        size_t size = 0;
        bool ok = ReadWhole(path, buffer, size);
        if (ok && write) ok = write(path, buffer.get(), size);
        ++count.Files;
        count.Bytes += static_cast<long long>(size);
        count.PathBytes += static_cast<long long>(path.size()) + 1;
        if (!ok) ++count.Failed;
    }
    for (const std::string& f : folders) Walk(dir + f + "/", pattern, write, count);
}

}  // namespace

TFloorCount WalkAndRead(const std::string& root, const std::string& pattern, const TWriteStep& write) {
    TFloorCount count;
    std::string dir = root;
    if (dir.empty() || dir.back() != '/') dir += '/';
    Walk(dir, pattern, write, count);
    return count;
}

double NowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

#endif

TFloorCount RunFloor(const std::string& root, const std::string& pattern, TFloorJob job) {
    if (job == TFloorJob::Read) return WalkAndRead(root, pattern, nullptr);
#ifdef _WIN32
    if (job == TFloorJob::ReadWide) return WalkAndReadWide(root, pattern);
#endif
    const bool flush = job == TFloorJob::Rewrite;
    return WalkAndRead(root, pattern, [flush](const std::string& path, const char* data, size_t size) {
        return Rewrite(path, data, size, flush);
    });
}

}  // namespace kes_bench
