// JPEG: COM segments, stored as the tool gives them.
#include "CpiShell.h"
#include "JpegComment.h"

const kes::PluginFormat kes::kPluginFormat = {
    "Kestrane JPEG comment plug-in",
    "*.jpg;*.jpeg;*.jpe;*.jfif",
    "JPEG画像",
    &kes::JpegSetComment,
};
