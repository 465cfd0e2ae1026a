#ifndef KESTRANE_PLUGINS_SAFE_REPLACE_H
#define KESTRANE_PLUGINS_SAFE_REPLACE_H

#include "CpiShell.h"

namespace kes {

// Looks at the target before anything else is done: kWritten when it may
// be rewritten, else why not. A read-only file, a directory and a reparse
// point (a symbolic link, a junction, a cloud drive's placeholder, which a
// rewrite would replace by a plain file) are refused, and so is a file
// whose size is no longer that of the contents handed over: another
// program saved it since. `seen` keeps what was found, for ReplaceContents.
WriteResult CheckTarget(const char* path, size_t handedSize, WIN32_FILE_ATTRIBUTE_DATA& seen);

// Replaces the file's contents in one step: a temporary file in its folder,
// with its attributes, replaces it through ReplaceFileA, which keeps its
// security, alternate streams, encryption, compression and short name. The
// modification time is kept when keepModifiedTime is set, else it is the
// time of the write. Just before the replace, the file must still be as
// `seen`: a file that another program has open or has saved meanwhile, or
// that has further names (hard links) or leads elsewhere (a symbolic link),
// is refused. On any failure the file is left as it was and no temporary
// file remains.
WriteResult ReplaceContents(const char* path, const WIN32_FILE_ATTRIBUTE_DATA& seen, const Pieces& contents,
                            bool keepModifiedTime);

}  // namespace kes

#endif
