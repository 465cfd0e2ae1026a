// GIF: a comment extension, in code page 932, as readers show it.
#include "CpiShell.h"
#include "GifComment.h"

const kes::PluginFormat kes::kPluginFormat = {
    "Kestrane GIF comment plug-in",
    "*.gif",
    "GIF画像",
    kes::StoredAs<kes::TextForm::kCodePage, kes::GifSetComment, kes::GifReadComment>(),
};
