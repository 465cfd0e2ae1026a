// JPEG: COM segments, in code page 932, as readers show them.
#include "CpiShell.h"
#include "JpegComment.h"

const kes::PluginFormat kes::kPluginFormat = {
    "Kestrane JPEG comment plug-in",
    "*.jpg;*.jpeg;*.jpe;*.jfif",
    "JPEG画像",
    kes::StoredAs<kes::TextForm::kCodePage, kes::JpegSetComment, kes::JpegReadComment>(),
};
