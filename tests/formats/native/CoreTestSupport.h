// Helpers for the native tests of the format cores.
#ifndef KESTRANE_CORE_TEST_SUPPORT_H
#define KESTRANE_CORE_TEST_SUPPORT_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Bytes.h"

namespace kes_test {

std::string ReadFile(const std::string& path);
// A file made by make_samples.sh in the folder named by KES_SAMPLES; the
// test fails when it is missing.
std::string Sample(const std::string& name);
// Files in a folder, sorted; none when it does not exist.
std::vector<std::string> FilesIn(const std::string& folder);

// A core's setter with its output joined into one string, as it lands in
// the file.
template <kes::Rewrite (*Set)(std::string_view, std::string_view)>
std::optional<std::string> JoinedOutput(std::string_view file, std::string_view comment) {
    return kes::Joined(Set(file, comment));
}

}  // namespace kes_test

#endif
