// The archive comment of a ZIP file: the text after its end-of-central-
// directory record.
#ifndef KESTRANE_PLUGINS_ZIP_COMMENT_H
#define KESTRANE_PLUGINS_ZIP_COMMENT_H

#include "Bytes.h"

namespace kes {

// Replaces the archive comment; an empty comment leaves none. Bytes after
// the old comment (a trailing byte, junk from a download) stay after the
// new one, and data in front of the archive stays with the offsets as they
// were. An old comment cut short (its record states more bytes than the
// file holds) gives way all the same, and the record gets the new
// comment's length. Refuses a file that is no intact archive or whose end
// record cannot be told without doubt, and a comment over 65535 bytes
// (less the bytes kept after it) or one holding the record's signature.
Rewrite ZipSetComment(std::string_view archive, std::string_view comment);

// The archive comment (as far as the file holds it), or nothing when the
// file is refused as above.
std::optional<std::string> ZipReadComment(std::string_view archive);

}  // namespace kes

#endif
