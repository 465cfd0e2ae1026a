// The comment of a FLAC file: the COMMENT field of its Vorbis comment block.
#ifndef KESTRANE_PLUGINS_FLAC_COMMENT_H
#define KESTRANE_PLUGINS_FLAC_COMMENT_H

#include "VorbisComment.h"

namespace kes {

// Replaces every COMMENT field of the first VORBIS_COMMENT block, the one
// readers show, by one in the place of the first, and takes the COMMENT
// fields out of any later such block; without the block, adds one right
// after STREAMINFO. A PADDING block absorbs the change in size where it
// can; every other block and the audio frames stay as they were. `utf8` is
// the comment in UTF-8; its line breaks become LF, and an empty one leaves
// no COMMENT field. Refuses what is no intact FLAC stream (an ID3v2 tag in
// front is kept as it is), a comment that is no UTF-8 or holds a NUL, and
// (as too long) one that would outgrow a block's 24-bit length.
Rewrite FlacSetComment(std::string_view file, std::string_view utf8);

// The comment (the COMMENT fields of every comment block, joined by LF),
// and the rest of the file for comparing: every block but PADDING and the
// COMMENT fields, and the audio. Refuses what the setter refuses.
std::optional<CommentAndRest> FlacRead(std::string_view file);

}  // namespace kes

#endif
