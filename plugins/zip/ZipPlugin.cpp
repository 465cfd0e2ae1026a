// ZIP: the archive comment, stored as the tool gives it (Japanese
// archivers store Shift_JIS there too).
#include "CpiShell.h"
#include "ZipComment.h"

const kes::PluginFormat kes::kPluginFormat = {
    "Kestrane ZIP comment plug-in",
    "*.zip",
    "ZIP書庫",
    &kes::ZipSetComment,
};
