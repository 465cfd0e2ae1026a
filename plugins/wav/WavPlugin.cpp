// WAV: the ICMT item of the INFO list, which Windows shows in code page
// 932, and a comment frame in the id3 chunk, which holds any text.
#include "CpiShell.h"
#include "WavComment.h"

namespace {

// The ICMT item gets the comment only when code page 932 holds it exactly;
// otherwise it goes. Its readers take its bytes in the system's code page,
// so any other bytes would show there as another text, and the old comment
// left in it would be a stale one. Readers of the id3 chunk show the frame.
kes::Rewrite SetComment(std::string_view file, const kes::Comment& comment) {
    return kes::WavSetComment(file, comment.codePage.value_or(std::string()), *comment.utf8);
}

// The frame's text, which holds any comment exactly; where there is none,
// the ICMT item's, which a write replaces too.
std::optional<kes::Comment> ReadComment(std::string_view file) {
    const std::optional<kes::WavTags> tags = kes::WavRead(file);
    if (!tags) return std::nullopt;
    if (tags->comment.empty() && tags->icmt) return kes::Comment::Only(kes::TextForm::kCodePage, *tags->icmt);
    return kes::Comment::Only(kes::TextForm::kUtf8, tags->comment);
}

}  // namespace

const kes::PluginFormat kes::kPluginFormat = {
    "Kestrane WAV comment plug-in",
    "*.wav",
    "WAV音声",
    {kes::TextForm::kUtf8, &SetComment, &ReadComment},
};
