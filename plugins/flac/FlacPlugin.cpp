// FLAC: the COMMENT field of the Vorbis comment block, which holds UTF-8.
#include "CpiShell.h"
#include "FlacComment.h"

const kes::PluginFormat kes::kPluginFormat = {
    "Kestrane FLAC comment plug-in",
    "*.flac",
    "FLAC音声",
    kes::StoredAs<kes::TextForm::kUtf8, kes::FlacSetComment, kes::CommentOf<kes::FlacRead>>(),
};
