// The comment of a PNG file: its text chunk with the keyword "Comment".
#ifndef KESTRANE_PLUGINS_PNG_COMMENT_H
#define KESTRANE_PLUGINS_PNG_COMMENT_H

#include "Bytes.h"

namespace kes {

// Replaces every tEXt, zTXt and iTXt chunk with the keyword "Comment" (in
// any case: "comment" is common too) by one
// chunk before the first IDAT: tEXt when the text is all Latin-1, otherwise
// iTXt. `utf8` is the comment in UTF-8; its line breaks become LF. An empty
// comment leaves no such chunk. Refuses a file that is no intact PNG (every
// chunk's CRC is checked), and a comment that is not UTF-8 or holds a NUL.
Rewrite PngSetComment(std::string_view image, std::string_view utf8);

// The text of the "Comment" chunks in UTF-8, joined in file order (a
// compressed one inflated; one that cannot be read as U+FFFD), or nothing
// when the file is refused as above.
std::optional<std::string> PngReadComment(std::string_view image);

}  // namespace kes

#endif
