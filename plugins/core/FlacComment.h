// The comment of a FLAC file: the COMMENT field of its Vorbis comment block.
#ifndef KESTRANE_PLUGINS_FLAC_COMMENT_H
#define KESTRANE_PLUGINS_FLAC_COMMENT_H

#include "VorbisComment.h"

namespace kes {

// Replaces every COMMENT field of the VORBIS_COMMENT block by one in the
// place of the first; without the block, adds one right after STREAMINFO. A
// PADDING block absorbs the change in size where it can; every other block
// and the audio frames stay as they were. `utf8` is the comment in UTF-8;
// its line breaks become LF, and an empty one leaves no COMMENT field.
// Refuses what is no intact FLAC stream (an ID3v2 tag in front is kept),
// and a comment that is no UTF-8 or holds a NUL.
Rewrite FlacSetComment(std::string_view file, std::string_view utf8);

// The comment, and the rest of the file for comparing: every block but
// PADDING and the COMMENT fields, and the audio. Refuses what the setter
// refuses.
std::optional<CommentAndRest> FlacRead(std::string_view file);

}  // namespace kes

#endif
