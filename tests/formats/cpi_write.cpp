// Drives the bundled plug-ins for the round-trip script: reads a list of
// jobs, one a line, "plugin|target|comment file", and for each reads the
// target and the comment as bytes, calls the plug-in's WriteComment like the
// tool does, and prints "<result> <target>". Exit code 0 once every job ran;
// judging the results is the script's part.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "PluginModule.h"

namespace {

bool ReadWhole(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream out;
    out << in.rdbuf();
    bytes = out.str();
    return true;
}

// One job; false when it could not even be tried.
bool Run(const std::string& line) {
    const size_t a = line.find('|'), b = line.find('|', a + 1);
    if (a == std::string::npos || b == std::string::npos) return false;
    const std::string plugin = line.substr(0, a), target = line.substr(a + 1, b - a - 1);
    std::string contents, comment;
    if (!ReadWhole(target, contents) || !ReadWhole(line.substr(b + 1), comment)) return false;
    const CPluginModule module(plugin);
    if (!module.Loaded()) return false;
    std::printf("%d %s\n", module.Write(target, contents, comment), target.c_str());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string list;
    if (argc != 2 || !ReadWhole(argv[1], list)) {
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
