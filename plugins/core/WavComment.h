// The comment of a WAV file: the ICMT item of its LIST/INFO chunk, which
// Windows shows, and a comment frame in its id3 chunk, which music players
// and taggers show.
#ifndef KESTRANE_PLUGINS_WAV_COMMENT_H
#define KESTRANE_PLUGINS_WAV_COMMENT_H

#include "Bytes.h"

namespace kes {

// Replaces every ICMT item of the INFO list by one in the place of the
// first, `shiftJis` with CR LF line breaks and a NUL; and the id3 chunk's
// comment frames without description by one, as an MP3 file's tag gets it,
// `utf8` with LF line breaks. Where there is no INFO list or id3 chunk, one
// is added after the last chunk. An empty `shiftJis` leaves no ICMT item
// (the comment is empty, or code page 932 cannot hold it); an empty `utf8`
// no comment frame. A list that holds nothing else goes, and so does an
// id3 chunk whose tag, without its comment, reads as none (a v2.3 tag of
// nothing but comments, as this core makes one). Every other chunk and
// item stays byte for byte, pad bytes included, and the RIFF size follows.
// Refuses what is no RIFF WAVE file with one format and one data chunk
// whose chunk sizes add up to the RIFF size (which may count, or leave
// out, the last chunk's pad byte); RF64 and BW64; a second INFO list or
// id3 chunk; an id3 chunk that the MP3 core would refuse as a tag; a
// comment that is no UTF-8 or holds a NUL. A comment that would take the
// file past 4 GiB is too long.
Rewrite WavSetComment(std::string_view file, std::string_view shiftJis, std::string_view utf8);

struct WavTags {
    std::string comment;              // the id3 chunk's comment frames without description, in UTF-8, joined
    std::optional<std::string> icmt;  // the ICMT items up to their first NUL, joined by CR LF, where there are any
    std::string rest;                 // everything else, for comparing two files
};

// What the setter would find; refuses what it refuses.
std::optional<WavTags> WavRead(std::string_view file);

}  // namespace kes

#endif
