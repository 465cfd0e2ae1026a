// The comment structure that FLAC and Ogg Vorbis/Opus share: a vendor
// string and a list of "NAME=value" fields, each behind its length as a
// 32-bit little-endian number.
#ifndef KESTRANE_PLUGINS_VORBIS_COMMENT_H
#define KESTRANE_PLUGINS_VORBIS_COMMENT_H

#include <vector>

#include "Bytes.h"

namespace kes {

struct VorbisFields {
    std::string_view vendor;
    std::vector<std::string_view> fields;
    std::string_view after;  // what follows the last field (Vorbis's framing bit, Opus's binary data)
};

// What a reader of a file finds: its comment, and everything that a new
// comment must leave as it was in a form that two files can be compared in.
struct CommentAndRest {
    std::string comment;
    std::string rest;
};

// Nothing when a length runs past the end.
std::optional<VorbisFields> ParseVorbisFields(std::string_view body);

// The structure again, with every COMMENT field (the name in any case)
// replaced by one "COMMENT=<text>" in the place of the first, or after the
// last field when there was none; an empty text leaves none. The vendor,
// the other fields and what follows them are kept. `text` is UTF-8 with LF
// line breaks. Nothing when a length would not fit in 32 bits.
std::optional<std::string> WithComment(const VorbisFields& parsed, std::string_view text);

// The values of the COMMENT fields, joined by LF.
std::string CommentValues(const VorbisFields& parsed);

// Everything but the COMMENT fields, in order, for comparing two files.
std::string OtherFields(const VorbisFields& parsed);

}  // namespace kes

#endif
