// The comment of an MP3 file: a COMM frame of its ID3v2 tag, and the
// comment field of its ID3v1 tag where it has one.
#ifndef KESTRANE_PLUGINS_MP3_COMMENT_H
#define KESTRANE_PLUGINS_MP3_COMMENT_H

#include "Bytes.h"

namespace kes {

// Replaces every comment frame with an empty description (COMM, or COM in
// a v2.2 tag) by one (language "eng", UTF-16 with a byte order mark, or
// UTF-8 where a v2.4 tag's restrictions allow only that or Latin-1) in the
// place of the first, or after the last frame; other frames stay as they
// were. A tag keeps its version, and its padding absorbs the change where
// it can; a v2.4 checksum is computed anew. A file without a tag gets a
// v2.3 tag in front, ahead of any stray bytes before its first frame. An
// APEv2 tag's Comment items give way to one with the comment; an ID3v1 tag
// at the end gets the comment in Shift_JIS in its comment field. `utf8` is
// the comment for the ID3v2 frame and the APE item, line breaks becoming
// LF; `shiftJis` the same comment for the ID3v1 field, line breaks becoming
// spaces. An empty comment leaves no such frame or item and an empty
// field. A tag is read as its readers read it (Id3v2.h): an unsynchronised
// one is written without unsynchronisation, every other frame with the
// content its readers take from it, and v2.4 frame sizes that were plain
// integers become syncsafe. Refuses a compressed v2.2 tag, one whose
// frames do not line up, a comment frame that is compressed or encrypted,
// a wrong checksum, an APE tag that does not hold together, a file neither
// tagged nor with a run of MPEG audio frames within its first 64 KiB (or
// that is a container of them), a comment that is no UTF-8 or holds a NUL,
// and one the tag's restrictions do not allow (as too long, where the tag
// would keep within them without it).
Rewrite Mp3SetComment(std::string_view file, std::string_view shiftJis, std::string_view utf8);

struct Mp3Tags {
    std::string comment;            // the COMM frames without description, in UTF-8, joined
    std::optional<std::string> v1;  // the ID3v1 comment field up to its first NUL
    std::optional<std::string> ape; // the APE tag's Comment items joined by LF, where there is that tag
    std::string rest;               // everything else, for comparing two files
};

// What the setter would find; refuses what it refuses.
std::optional<Mp3Tags> Mp3Read(std::string_view file);

// The ID3v1 comment field for a comment in Shift_JIS: line breaks as
// spaces, cut between characters to `room` bytes and padded with NULs.
std::string Id3v1Comment(std::string_view shiftJis, size_t room);

// An ID3v2 tag on its own, as a WAV file carries one in a chunk: the same
// comment frame by the same rules. `tag` starts with the tag's header;
// bytes after the tag are the caller's. Nothing where the tag is refused.
struct Id3v2Comment {
    std::string comment;  // as Mp3Tags has it
    std::string rest;     // the rest of the tag; empty for a v2.3 tag of nothing but comments
};
std::optional<Id3v2Comment> Id3v2ReadComment(std::string_view tag);

// The tag again with `text` (UTF-8 with LF line breaks) in its comment
// frame, or a new v2.3 tag where `tag` is empty; nothing is put for no tag
// and no text. False where the tag or the text is refused.
bool Id3v2PutComment(Pieces& out, std::string_view tag, std::string_view text);

}  // namespace kes

#endif
