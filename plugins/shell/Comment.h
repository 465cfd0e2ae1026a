// The comment in the two forms the bundled formats store it in: the bytes
// of code page 932 (ZIP, JPEG, GIF, whose readers take them in the system
// code page, and MP3's ID3v1 field) and UTF-8 (PNG, MP3's ID3v2 frame,
// FLAC, Ogg). Both exports turn what the tool hands them into these forms,
// so that one path writes the file whichever export was called.
#ifndef KESTRANE_PLUGINS_COMMENT_H
#define KESTRANE_PLUGINS_COMMENT_H

#include <optional>
#include <string>
#include <string_view>

namespace kes {

enum class TextForm { kCodePage, kUtf8 };

// A form that holds no exact text of the comment is missing.
struct Comment {
    std::optional<std::string> codePage;
    std::optional<std::string> utf8;

    const std::optional<std::string>& In(TextForm form) const {
        return form == TextForm::kCodePage ? codePage : utf8;
    }
    static Comment Only(TextForm form, std::string text) {
        Comment c;
        (form == TextForm::kCodePage ? c.codePage : c.utf8) = std::move(text);
        return c;
    }
};

// As WriteComment gets it: the code page's bytes as they are, so that they
// reach the file unchanged, and UTF-8 when they are valid Shift_JIS.
Comment CommentFromCodePage(std::string_view bytes);

// As WriteCommentW gets it: UTF-8 unless it holds a lone surrogate, and
// the code page's bytes when code page 932 holds every character exactly,
// never a look-alike ("〜" U+301C is not "～" U+FF5E, "é" is not "e").
// Neither form holds a NUL: readers of the Unicode formats take one for
// the end of the text.
Comment CommentFromUtf16(std::wstring_view text);

// A comment read from a file, in the form the tool hands to a write:
// UTF-16 with CR LF line breaks, from its UTF-8 form where it has one.
// Bytes that are no text of their form (another program's) read as U+FFFD
// or the code page's stand-in, so that a damaged comment still shows.
std::wstring CommentToUtf16(const Comment& stored);

}  // namespace kes

#endif
