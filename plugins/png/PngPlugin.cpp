// PNG: the "Comment" text chunk. PNG text is Latin-1 or UTF-8, never
// Shift_JIS, so the tool's text is converted first.
#include "CpiShell.h"
#include "PngComment.h"
#include "ShiftJis.h"

const kes::PluginFormat kes::kPluginFormat = {
    "Kestrane PNG comment plug-in",
    "*.png",
    "PNG画像",
    &kes::SetUtf8Comment<kes::PngSetComment>,
};
