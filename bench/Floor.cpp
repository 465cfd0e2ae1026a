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

class CFind {
public:
    explicit CFind(const std::string& mask) : h_(FindFirstFileA(mask.c_str(), &data_)) {}
    ~CFind() {
        if (h_ != INVALID_HANDLE_VALUE) FindClose(h_);
    }
    CFind(const CFind&) = delete;
    CFind& operator=(const CFind&) = delete;
    bool Found() const { return h_ != INVALID_HANDLE_VALUE; }
    bool Next() { return FindNextFileA(h_, &data_) != FALSE; }
    const WIN32_FIND_DATAA& Data() const { return data_; }

private:
    WIN32_FIND_DATAA data_;
    HANDLE h_;
};

// As the tool reads a file for its plug-in: size, one buffer, one read.
bool ReadWhole(const std::string& path, std::unique_ptr<char[]>& buffer, DWORD& size) {
    CHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
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
void Walk(const std::string& dir, const std::string& pattern, const TWriteStep& write, TFloorCount& count) {
    std::vector<std::string> names;
    {
        CFind files(dir + pattern);
        if (files.Found()) do {
                if (!(files.Data().dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    names.push_back(files.Data().cFileName);
            } while (files.Next());
    }
    for (const std::string& name : names) {
        const std::string path = dir + name;
        std::unique_ptr<char[]> buffer;
        DWORD size = 0;
        bool ok = ReadWhole(path, buffer, size);
        if (ok && write) ok = write(path, buffer.get(), size);
        ++count.Files;
        count.Bytes += size;
        count.PathBytes += static_cast<long long>(path.size()) + 1;
        if (!ok) ++count.Failed;
    }
    CFind dirs(dir + "*");
    if (!dirs.Found()) return;
    do {
        const WIN32_FIND_DATAA& d = dirs.Data();
        const std::string name = d.cFileName;
        if ((d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != "." && name != "..")
            Walk(dir + name + "\\", pattern, write, count);
    } while (dirs.Next());
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
    const bool flush = job == TFloorJob::Rewrite;
    return WalkAndRead(root, pattern, [flush](const std::string& path, const char* data, size_t size) {
        return Rewrite(path, data, size, flush);
    });
}

}  // namespace kes_bench
