#include "CoreTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kes_test {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::string Sample(const std::string& name) {
    const char* folder = std::getenv("KES_SAMPLES");
    if (!folder) {
        ADD_FAILURE() << "KES_SAMPLES is not set";
        return std::string();
    }
    const std::string path = std::string(folder) + "/" + name;
    if (!std::filesystem::is_regular_file(path)) ADD_FAILURE() << "missing sample " << path;
    return ReadFile(path);
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        if (entry.is_regular_file()) files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace kes_test
