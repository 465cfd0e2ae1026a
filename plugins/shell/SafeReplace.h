#ifndef KESTRANE_PLUGINS_SAFE_REPLACE_H
#define KESTRANE_PLUGINS_SAFE_REPLACE_H

#include "CpiShell.h"

namespace kes {

// Replaces the file's contents in one step through a temporary file in its
// folder. The file keeps its attributes and creation time, and its
// modification time when keepModifiedTime is set. On any failure the file
// is left as it was and no temporary file remains. A read-only file is
// refused.
WriteResult ReplaceContents(const char* path, const Pieces& contents, bool keepModifiedTime);

}  // namespace kes

#endif
