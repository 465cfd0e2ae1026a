#include "PathText.h"

#include <windows.h>

namespace {

// Calls f(offset, byte) for each single-byte character; the bytes of a
// double-byte character are passed over together.
template <class F>
void ForEachSingleByteChar(const std::string& text, F f) {
    for (std::string::size_type i = 0; i < text.size(); ++i) {
        const BYTE c = static_cast<BYTE>(text[i]);
        if (IsDBCSLeadByte(c) && i + 1 < text.size())
            ++i;
        else
            f(i, c);
    }
}

}  // namespace

bool EndsWithPathDelimiter(const std::string& path) {
    bool last = false;
    std::string::size_type lastAt = std::string::npos;
    ForEachSingleByteChar(path, [&](std::string::size_type at, BYTE c) {
        lastAt = at;
        last = c == '\\';
    });
    return last && lastAt + 1 == path.size();
}

std::string IncludeTrailingPathDelimiter(const std::string& path) {
    return EndsWithPathDelimiter(path) ? path : path + '\\';
}

std::string ExtractFilePath(const std::string& path) {
    std::string::size_type end = 0;
    ForEachSingleByteChar(path, [&](std::string::size_type at, BYTE c) {
        if (c == '\\' || c == ':') end = at + 1;
    });
    return path.substr(0, end);
}
