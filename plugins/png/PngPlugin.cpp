// PNG: the "Comment" text chunk. PNG text is Latin-1 or UTF-8, never
// Shift_JIS, so the tool's text is converted first.
#include "CpiShell.h"
#include "PngComment.h"
#include "ShiftJis.h"

namespace {

kes::Rewrite SetComment(std::string_view image, std::string_view comment) {
    const std::optional<std::string> utf8 = kes::ShiftJisToUtf8(comment);
    if (!utf8) return std::nullopt;
    return kes::PngSetComment(image, *utf8);
}

}  // namespace

const kes::PluginFormat kes::kPluginFormat = {
    "Kestrane PNG comment plug-in 1.0",
    "*.png",
    "PNG画像",
    &SetComment,
};
