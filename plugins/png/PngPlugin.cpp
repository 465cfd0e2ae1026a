// PNG: the "Comment" text chunk. PNG text is Latin-1 or UTF-8, never
// Shift_JIS: the core takes the comment in UTF-8.
#include "CpiShell.h"
#include "PngComment.h"

const kes::PluginFormat kes::kPluginFormat = {
    "Kestrane PNG comment plug-in",
    "*.png",
    "PNG画像",
    kes::StoredAs<kes::TextForm::kUtf8, kes::PngSetComment, kes::PngReadComment>(),
};
