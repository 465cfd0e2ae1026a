// The plug-in's settings, kept in an INI file beside its DLL (kes_zip.cpi
// keeps kes_zip.ini), since the tool itself keeps no settings.
#ifndef KESTRANE_PLUGINS_SETTINGS_H
#define KESTRANE_PLUGINS_SETTINGS_H

#include <cstddef>

namespace kes {

// Whether a rewritten file keeps its modification time; on by default.
// Read once per load of the plug-in.
bool KeepModifiedTime();
// False when the INI file could not be written; otherwise the choice also
// holds from now on in this load.
bool SaveKeepModifiedTime(bool keep);

// The option of the plug-in's comment choice in use (an index into its
// options; the first when it offers none or the file names no other).
// Read once per load of the plug-in, like the time.
size_t CommentOption();
bool SaveCommentOption(size_t option);

}  // namespace kes

#endif
