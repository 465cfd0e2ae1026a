// Helpers for the native tests of the format cores.
#ifndef KESTRANE_CORE_TEST_SUPPORT_H
#define KESTRANE_CORE_TEST_SUPPORT_H

#include <string>
#include <vector>

namespace kes_test {

std::string ReadFile(const std::string& path);
// A file made by make_samples.sh in the folder named by KES_SAMPLES; the
// test fails when it is missing.
std::string Sample(const std::string& name);
// Files in a folder, sorted; none when it does not exist.
std::vector<std::string> FilesIn(const std::string& folder);

}  // namespace kes_test

#endif
