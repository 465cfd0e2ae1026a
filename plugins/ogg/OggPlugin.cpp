// Ogg Vorbis and Opus: the COMMENT field of the first stream's comment
// header, which holds UTF-8.
#include "CpiShell.h"
#include "OggComment.h"

const kes::PluginFormat kes::kPluginFormat = {
    "Kestrane Ogg Vorbis/Opus comment plug-in",
    "*.ogg;*.oga;*.opus",
    "Ogg Vorbis/Opus音声",
    kes::StoredAs<kes::TextForm::kUtf8, kes::OggSetComment, kes::CommentOf<kes::OggRead>>(),
};
