// The comment of an Ogg Vorbis or Ogg Opus file: the COMMENT field of the
// comment header of its first logical stream.
#ifndef KESTRANE_PLUGINS_OGG_COMMENT_H
#define KESTRANE_PLUGINS_OGG_COMMENT_H

#include "VorbisComment.h"

namespace kes {

// Replaces every COMMENT field of the first stream's comment header by one
// in the place of the first. The header packets after the first are paged
// anew and that stream's later pages renumbered; audio packets, granule
// positions and any later (chained) stream stay as they were. Audio
// packets that an older Vorbis encoder put on the last header page get a
// page of their own, with that page's granule position. Bytes after the
// last page of a stream that ended stay as they are. `utf8` is the comment
// in UTF-8; its line breaks become LF, and an empty one leaves no COMMENT
// field. The header packets are read by the pages' segment tables, also
// on into a page that lacks the flag saying it carries on a packet, where
// that page directly follows. Refuses what is no intact Ogg Vorbis or Opus
// file (every page's checksum is checked; bytes after the last page may
// hold no capture pattern), a first stream whose header pages are
// interleaved with another's, and a comment that is no UTF-8 or holds a
// NUL.
Rewrite OggSetComment(std::string_view file, std::string_view utf8);

// The comment, and the rest of the file for comparing: the other header
// packets and comment fields, the later pages without their checksums and
// with their sequence numbers counted from the header pages, and the rest.
// Refuses what the setter refuses.
std::optional<CommentAndRest> OggRead(std::string_view file);

// Ogg's page checksum: CRC-32 with the polynomial 0x04C11DB7, not
// reflected, starting from zero.
uint32_t OggCrc(uint32_t crc, std::string_view bytes);

}  // namespace kes

#endif
