// MP3: an ID3v2 comment frame in Unicode, and the ID3v1 comment field,
// which players read in the system's code page.
#include "CpiShell.h"
#include "Mp3Comment.h"

namespace {

// The ID3v1 field gets the comment only when code page 932 holds it
// exactly; otherwise it is emptied. Its readers take its bytes in the
// system's code page, so any other bytes would show there as another text
// (a look-alike, or "?" for what the user wrote), and the old comment left
// in it would be a stale one. Readers that know ID3v2 show the frame.
kes::Rewrite SetComment(std::string_view file, const kes::Comment& comment) {
    return kes::Mp3SetComment(file, comment.codePage.value_or(std::string()), *comment.utf8);
}

// The frame's text; where there is none, the ID3v1 field's, which a write
// replaces too.
std::optional<kes::Comment> ReadComment(std::string_view file) {
    const std::optional<kes::Mp3Tags> tags = kes::Mp3Read(file);
    if (!tags) return std::nullopt;
    if (tags->comment.empty() && tags->v1) return kes::Comment::Only(kes::TextForm::kCodePage, *tags->v1);
    return kes::Comment::Only(kes::TextForm::kUtf8, tags->comment);
}

}  // namespace

const kes::PluginFormat kes::kPluginFormat = {
    "Kestrane MP3 comment plug-in",
    "*.mp3",
    "MP3音声",
    {kes::TextForm::kUtf8, &SetComment, &ReadComment},
};
