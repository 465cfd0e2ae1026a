// FLAC: the COMMENT field of the Vorbis comment block, which holds UTF-8.
#include "CpiShell.h"
#include "FlacComment.h"
#include "ShiftJis.h"

const kes::PluginFormat kes::kPluginFormat = {
    "Kestrane FLAC comment plug-in",
    "*.flac",
    "FLAC音声",
    &kes::SetUtf8Comment<kes::FlacSetComment>,
};
