// MP3: an ID3v2 comment frame in Unicode, and the ID3v1 comment field,
// which players read in the system's code page, as the tool gives it.
#include "CpiShell.h"
#include "Mp3Comment.h"
#include "ShiftJis.h"

namespace {

kes::Rewrite SetComment(std::string_view file, std::string_view comment) {
    const std::optional<std::string> utf8 = kes::ShiftJisToUtf8(comment);
    if (!utf8) return std::nullopt;
    return kes::Mp3SetComment(file, comment, *utf8);
}

}  // namespace

const kes::PluginFormat kes::kPluginFormat = {
    "Kestrane MP3 comment plug-in",
    "*.mp3",
    "MP3音声",
    &SetComment,
};
