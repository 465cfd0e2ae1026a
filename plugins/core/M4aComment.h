// The comment of an MPEG-4 file (M4A, M4B, MP4, M4V): the ©cmt item of the
// item list in moov/udta/meta/ilst, where players and Explorer read it.
#ifndef KESTRANE_PLUGINS_M4A_COMMENT_H
#define KESTRANE_PLUGINS_M4A_COMMENT_H

#include "VorbisComment.h"

namespace kes {

// Replaces every ©cmt item of the item list by one (a UTF-8 data atom) in
// the place of the first, or after the last item; creates udta, meta (with
// its mdir handler) and ilst where they are missing. A free atom in meta,
// udta or moov, or right after moov, takes up the change in size where it
// can; otherwise moov changes size, and where media data follows it, every
// chunk offset that points past it moves along. Every other atom stays as
// it was. `utf8` is the comment in UTF-8; its line breaks become LF, and an
// empty one leaves no ©cmt item. Refuses what it cannot rewrite exactly: no
// atoms that tile the file with one moov, fragments, media in another file,
// auxiliary offsets, a chunk offset inside moov or its padding, or one that
// would outgrow 32 bits, a meta without its mdir handler; and a comment
// that is no UTF-8 or holds a NUL.
Rewrite M4aSetComment(std::string_view file, std::string_view utf8);

// The texts of the ©cmt items' data atoms, joined by LF; nothing for a
// file the setter refuses.
std::optional<std::string> M4aReadComment(std::string_view file);

// The same, and the rest of the file for comparing: every atom but the
// ©cmt items and free atoms in or right after moov, with the chunk offsets
// counted from where moov and that padding end, and without the containers
// the setter adds and that hold nothing else.
std::optional<CommentAndRest> M4aRead(std::string_view file);

}  // namespace kes

#endif
