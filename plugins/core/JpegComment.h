// The comments of a JPEG file: its COM segments, which most viewers show,
// and XPComment in the Exif segment, which Windows shows.
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

// Sets the COM segments to `segment` (Shift_JIS, as JpegSetComment does)
// and XPComment to `xpComment` (UTF-8, stored as UTF-16LE); either left
// out is left as the file has it. XPComment is replaced in IFD0 or added
// there, in a new Exif segment after the JFIF header when the file has
// none; an empty comment takes it out. No other offset into the Exif data
// changes, and a multi-picture index follows the first image's growth.
// Refuses, besides the files JpegSetComment refuses, an Exif segment whose
// IFD0 or XPComment cannot be read exactly, and a comment that would make
// the Exif segment longer than a segment can be as too long.
Rewrite JpegSetComments(std::string_view image, std::optional<std::string_view> segment,
                        std::optional<std::string_view> xpComment);

// The payloads of all COM segments joined in file order, or nothing when
// the file is refused as above.
std::optional<std::string> JpegReadComment(std::string_view image);

// XPComment's text in UTF-8 (empty when there is none), or nothing when
// JpegSetComments would refuse the file whatever XPComment it is given.
std::optional<std::string> JpegReadXpComment(std::string_view image);

}  // namespace kes

#endif
