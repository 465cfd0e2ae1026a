// ZIP: the archive comment, in code page 932 (Japanese archivers store
// Shift_JIS there too, and readers show it in the system code page).
#include "CpiShell.h"
#include "ZipComment.h"

const kes::PluginFormat kes::kPluginFormat = {
    "Kestrane ZIP comment plug-in",
    "*.zip",
    "ZIP書庫",
    kes::StoredAs<kes::TextForm::kCodePage, kes::ZipSetComment, kes::ZipReadComment>(),
};
