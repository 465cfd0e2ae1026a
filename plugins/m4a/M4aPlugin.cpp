// M4A and MP4: the ©cmt item of the iTunes-style item list, which holds
// UTF-8.
#include "CpiShell.h"
#include "M4aComment.h"

const kes::PluginFormat kes::kPluginFormat = {
    "Kestrane M4A/MP4 comment plug-in",
    "*.m4a;*.m4b;*.mp4;*.m4v",
    "M4A/MP4音声・動画",
    kes::StoredAs<kes::TextForm::kUtf8, kes::M4aSetComment, kes::M4aReadComment>(),
};
