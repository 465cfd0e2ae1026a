// The Windows side shared by the bundled plug-ins: the exports, the
// dialogs, the settings file and the safe rewrite of the target. Each
// plug-in only describes its format in one PluginFormat.
#ifndef KESTRANE_PLUGINS_CPI_SHELL_H
#define KESTRANE_PLUGINS_CPI_SHELL_H

#include <windows.h>

#include <array>
#include <initializer_list>
#include <string>
#include <utility>

#include "Bytes.h"
#include "Comment.h"
#include "SafeReplace.h"
#include "cpi.h"

namespace kes {

// How a format's core takes and gives the comment.
struct CommentAccess {
    // The form the format stores; a comment without it cannot be held.
    TextForm form;
    // The file's new contents for a comment that has `form`, or nothing
    // when the file or the comment is refused.
    Rewrite (*set)(std::string_view contents, const Comment& comment);
    // The comment the file holds (in one form), or nothing when `set`
    // would refuse the file whatever the comment.
    std::optional<Comment> (*read)(std::string_view contents);
};

// The access to a core that takes and gives the comment in one form.
template <TextForm form, Rewrite (*Set)(std::string_view, std::string_view),
          std::optional<std::string> (*Read)(std::string_view)>
constexpr CommentAccess StoredAs() {
    return {form, [](std::string_view contents, const Comment& comment) { return Set(contents, *comment.In(form)); },
            [](std::string_view contents) -> std::optional<Comment> {
                std::optional<std::string> text = Read(contents);
                if (!text) return std::nullopt;
                return Comment::Only(form, std::move(*text));
            }};
}

// A reader of a core that also gives the rest of the file, for comparing.
template <auto Read>
std::optional<std::string> CommentOf(std::string_view contents) {
    auto found = Read(contents);
    if (!found) return std::nullopt;
    return std::move(found->comment);
}

// Where a format has more than one place for the comment, which of them
// a write sets: the user's choice in the settings dialog, kept in the
// settings file. Each option reads and writes the comment its own way;
// the first is the default.
struct CommentChoice {
    struct Option {
        const char* label;  // its radio button's, Japanese
        CommentAccess comment;
    };
    const char* caption;            // the group's, Japanese
    std::array<Option, 3> options;  // as many as the dialog has buttons
};

struct PluginFormat {
    const char* name;         // info 1, with the release's version number after it
    const char* patterns;     // info 2
    const char* description;  // info 3, Japanese
    CommentAccess comment;    // unless a choice is offered
    const CommentChoice* choice = nullptr;
};

// The access a write and a read use now: the chosen option's, where the
// format offers a choice.
const CommentAccess& CurrentAccess();

// Defined once by each plug-in.
extern const PluginFormat kPluginFormat;

// The exports' results (SafeReplace.h) are the interface's Cpi* codes.
constexpr bool SameCodes(std::initializer_list<std::pair<int, int>> pairs) {
    for (const auto& [ours, interfaces] : pairs)
        if (ours != interfaces) return false;
    return true;
}
static_assert(SameCodes({{kWritten, CpiWritten}, {kRefused, CpiRefused}, {kReadOnly, CpiReadOnly},
                         {kFileFailed, CpiFileFailed}, {kNoMemory, CpiNoMemory},
                         {kChangedElsewhere, CpiChangedElsewhere}, {kUnexpected, CpiUnexpected},
                         {kCommentNotHeld, CpiCommentNotHeld}, {kBackupLeft, CpiBackupLeft},
                         {kCommentTooLong, CpiCommentTooLong}}));

// The module of this plug-in (not of the program that loaded it).
HMODULE ThisModule();

// The plug-in's name and the release's version, as info 1 and the About
// box give them: one version number for the tool and every bundled file.
const std::string& VersionText();

}  // namespace kes

#endif
