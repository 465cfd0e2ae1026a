// JPEG: the comment segment, in code page 932, which most viewers show,
// and XPComment in the Exif data, which Windows Explorer shows (in the
// file's properties); both by default, or one of them as the user chooses.
#include "CpiShell.h"
#include "JpegComment.h"

namespace {

using kes::Comment;
using kes::TextForm;

// Both need the comment in both forms: bytes that are no Shift_JIS text
// (from WriteComment) have no text for XPComment, and are refused as
// such bytes are by the Unicode formats.
kes::Rewrite SetBoth(std::string_view file, const Comment& comment) {
    if (!comment.utf8) return std::nullopt;
    return kes::JpegSetComments(file, *comment.codePage, *comment.utf8);
}

kes::Rewrite SetXpComment(std::string_view file, const Comment& comment) {
    return kes::JpegSetComments(file, std::nullopt, *comment.utf8);
}

// The segment's text; where the file has none, XPComment's (a photo that
// Windows gave a comment), which a write replaces too.
std::optional<Comment> ReadBoth(std::string_view file) {
    const std::optional<std::string> xp = kes::JpegReadXpComment(file);
    std::optional<std::string> segment = kes::JpegReadComment(file);
    if (!xp || !segment) return std::nullopt;
    if (segment->empty() && !xp->empty()) return Comment::Only(TextForm::kUtf8, *xp);
    return Comment::Only(TextForm::kCodePage, std::move(*segment));
}

std::optional<Comment> ReadXpComment(std::string_view file) {
    std::optional<std::string> xp = kes::JpegReadXpComment(file);
    if (!xp) return std::nullopt;
    return Comment::Only(TextForm::kUtf8, std::move(*xp));
}

// The segment alone writes and reads as the plug-in always did; the other
// comment is left as the file has it.
constexpr kes::CommentChoice kChoice = {
    "書き込むコメント",
    {{{"コメントセグメントとXPCommentの両方(&B)", {TextForm::kCodePage, &SetBoth, &ReadBoth}},
      {"コメントセグメントのみ(&S)",
       kes::StoredAs<TextForm::kCodePage, kes::JpegSetComment, kes::JpegReadComment>()},
      {"XPCommentのみ(&X)", {TextForm::kUtf8, &SetXpComment, &ReadXpComment}}}},
};

}  // namespace

const kes::PluginFormat kes::kPluginFormat = {
    "Kestrane JPEG comment plug-in",
    "*.jpg;*.jpeg;*.jpe;*.jfif",
    "JPEG画像",
    kChoice.options[0].comment,
    &kChoice,
};
