// Drives the bundled plug-ins for the round-trip scripts: reads a list of
// jobs, one a line, "plugin|target|comment file", and for each reads the
// target and the comment, calls the plug-in like the tool does, and prints
// "<result> <target>". Exit code 0 once every job ran; judging the results
// is the scripts' part.
//   cpi_write JOBLIST      WriteComment; paths and comment in the code page
#include <cstdio>
#include <sstream>
#include <string>

#include "PluginModule.h"

namespace {

std::wstring Widened(UINT codePage, const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    wide.resize(MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                                    static_cast<int>(wide.size())));
    return wide;
}

bool ReadWhole(const std::wstring& path, std::string& bytes) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bytes.assign(GetFileSize(h, nullptr), '\0');
    DWORD read = 0;
    const bool whole = ReadFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) &&
                       read == bytes.size();
    CloseHandle(h);
    return whole;
}

// One job; false when it could not even be tried.
bool Run(const std::string& line) {
    const size_t a = line.find('|'), b = line.find('|', a + 1);
    if (a == std::string::npos || b == std::string::npos) return false;
    const std::string target = line.substr(a + 1, b - a - 1);
    std::string contents, comment;
    if (!ReadWhole(Widened(CP_ACP, target), contents) || !ReadWhole(Widened(CP_ACP, line.substr(b + 1)), comment))
        return false;
    const CPluginModule module(Widened(CP_ACP, line.substr(0, a)));
    if (!module.Loaded()) return false;
    const int result = module.Write(target, contents, comment);
    std::printf("%d %s\n", result, target.c_str());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string list;
    if (argc != 2 || !ReadWhole(Widened(CP_ACP, argv[1]), list)) {
        std::fprintf(stderr, "usage: cpi_write JOBLIST\n");
        return 2;
    }
    std::istringstream lines(list);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        if (!Run(line)) {
            std::fprintf(stderr, "cannot run: %s\n", line.c_str());
            return 1;
        }
    }
    return 0;
}
