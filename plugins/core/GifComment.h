// The comment of a GIF file: its comment extensions.
#ifndef KESTRANE_PLUGINS_GIF_COMMENT_H
#define KESTRANE_PLUGINS_GIF_COMMENT_H

#include "Bytes.h"

namespace kes {

// Replaces every comment extension by one, in sub-blocks of at most 255
// bytes, written before the first image or graphic block; a GIF87a header
// becomes GIF89a, which extensions need. An empty comment leaves none.
// Refuses a file that is no complete GIF.
Rewrite GifSetComment(std::string_view image, std::string_view comment);

// The data of all comment extensions joined in file order, or nothing when
// the file is refused as above.
std::optional<std::string> GifReadComment(std::string_view image);

}  // namespace kes

#endif
