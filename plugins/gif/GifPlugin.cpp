// GIF: a comment extension, stored as the tool gives it.
#include "CpiShell.h"
#include "GifComment.h"

const kes::PluginFormat kes::kPluginFormat = {
    "Kestrane GIF comment plug-in",
    "*.gif",
    "GIF画像",
    &kes::GifSetComment,
};
