// The comment of a JPEG file: its COM segments.
#ifndef KESTRANE_PLUGINS_JPEG_COMMENT_H
#define KESTRANE_PLUGINS_JPEG_COMMENT_H

#include "Bytes.h"

namespace kes {

// Replaces every COM segment by the comment, placed after SOI and the APPn
// segments that follow it and split over as many segments as it needs,
// never inside a Shift_JIS character; an empty comment leaves none.
// Everything else is copied byte for byte, but for a multi-picture index,
// whose entries are moved with the pictures after the first image (a first
// picture's size that some phones overstate stays off by as much). Refuses
// a file that is no complete JPEG image or whose index cannot be read
// exactly.
Rewrite JpegSetComment(std::string_view image, std::string_view comment);

// The payloads of all COM segments joined in file order, or nothing when
// the file is refused as above.
std::optional<std::string> JpegReadComment(std::string_view image);

}  // namespace kes

#endif
