#ifndef KESTRANE_PLUGINS_SHIFT_JIS_H
#define KESTRANE_PLUGINS_SHIFT_JIS_H

#include <optional>
#include <string>
#include <string_view>

namespace kes {

// The text from code page 932 in UTF-8, or nothing when it is not valid
// Shift_JIS.
std::optional<std::string> ShiftJisToUtf8(std::string_view text);

}  // namespace kes

#endif
