#ifndef KESTRANE_PLUGINS_SHIFT_JIS_H
#define KESTRANE_PLUGINS_SHIFT_JIS_H

#include <optional>
#include <string>
#include <string_view>

#include "Bytes.h"

namespace kes {

// The text from code page 932 in UTF-8, or nothing when it is not valid
// Shift_JIS.
std::optional<std::string> ShiftJisToUtf8(std::string_view text);

// A core that stores its text in UTF-8, given the tool's Shift_JIS comment.
// A comment that does not convert exactly is refused.
template <Rewrite (*Set)(std::string_view, std::string_view)>
Rewrite SetUtf8Comment(std::string_view contents, std::string_view comment) {
    const std::optional<std::string> utf8 = ShiftJisToUtf8(comment);
    if (!utf8) return std::nullopt;
    return Set(contents, *utf8);
}

}  // namespace kes

#endif
