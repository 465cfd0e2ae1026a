// Text helpers the cores share: strict UTF-8, UTF-16 and line breaks.
#ifndef KESTRANE_PLUGINS_TEXT_H
#define KESTRANE_PLUGINS_TEXT_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kes {

// Decodes UTF-8 strictly: no overlong forms, surrogates or values past
// U+10FFFF, since the text goes on to readers that may be strict.
std::optional<std::vector<uint32_t>> DecodeUtf8(std::string_view s);

// Appends one code point in UTF-8.
void PutUtf8(std::string& out, uint32_t cp);

// Appends one code point in UTF-16LE, as a surrogate pair past U+FFFF.
void PutUtf16Le(std::string& out, uint32_t cp);

// UTF-16 text, little- or big-endian, in UTF-8, leniently, as readers show
// it: a broken surrogate becomes U+FFFD, and a last odd byte is left out.
std::string Utf16ToUtf8(std::string_view raw, bool big);

// Every line break (CR LF, a lone CR or a lone LF) as one LF: what the
// formats that store Unicode text expect.
std::string ToLineFeeds(std::string_view s);

// The comment as a Unicode format stores it: UTF-8 with LF line breaks.
// Nothing when it is no valid UTF-8 or holds a NUL, which readers take for
// the end of the text.
std::optional<std::string> UnicodeComment(std::string_view utf8);

}  // namespace kes

#endif
