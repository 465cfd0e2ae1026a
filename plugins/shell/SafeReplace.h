#ifndef KESTRANE_PLUGINS_SAFE_REPLACE_H
#define KESTRANE_PLUGINS_SAFE_REPLACE_H

#include "CpiShell.h"
#include "FilePath.h"

namespace kes {

// Looks at the target before anything else is done: kWritten when it may
// be rewritten, else why not. A read-only file, a directory and a reparse
// point (a symbolic link, a junction, a cloud drive's placeholder, which a
// rewrite would replace by a plain file) are refused, and so is a file
// whose size is no longer that of the contents handed over: another
// program saved it since. `seen` keeps what was found, for ReplaceContents.
WriteResult CheckTarget(const TFilePath& path, size_t handedSize, WIN32_FILE_ATTRIBUTE_DATA& seen);

// kWritten when the file is reached by this name alone: it has no further
// names (hard links) and the name leads nowhere else (a symbolic link).
// ReplaceContents checks this again just before the replace; a reader
// asks it to say beforehand what a write would find.
WriteResult CheckSoleName(const TFilePath& path);

// Replaces the file's contents in one step: a temporary file in its folder,
// with its attributes, replaces it through ReplaceFileW, which keeps its
// alternate streams, encryption, compression and short name. The
// modification time is kept when keepModifiedTime is set, else it is the
// time of the write. Just before the replace, the file must still be as
// `seen` and pass CheckSoleName's test: a file that another program has
// open or has saved meanwhile is refused too. Its owner, group and access
// list must come out of the replace as they were, or the original is put
// back. On any failure the file is left as it was and no temporary file
// remains. kBackupLeft: written, but the original could not be deleted
// from its backup name and stays beside the file.
WriteResult ReplaceContents(const TFilePath& path, const WIN32_FILE_ATTRIBUTE_DATA& seen, const Pieces& contents,
                            bool keepModifiedTime);

}  // namespace kes

#endif
