// A file system path as the file system holds it: UTF-16. The tool, the
// bundled plug-ins and every file call use this one type, so that a name
// the system code page cannot hold ("é", "♡", "〜") goes through untouched,
// and a path of any length reaches the file functions in a form they take.
#ifndef KESTRANE_FILE_PATH_H
#define KESTRANE_FILE_PATH_H

#include <string>
#include <string_view>

class TFilePath {
public:
    TFilePath() = default;
    explicit TFilePath(std::wstring text) : text_(std::move(text)) {}
    // A path in the system code page; Shift_JIS converts to UTF-16 exactly.
    static TFilePath FromAnsi(const std::string& text);

    // The path as the user gave it and the search found it: for showing,
    // and for joining further names.
    const std::wstring& Text() const { return text_; }
    bool Empty() const { return text_.empty(); }

    bool EndsWithDelimiter() const { return !text_.empty() && text_.back() == L'\\'; }
    // The path with one '\' appended unless it already ends in one.
    TFilePath WithTrailingDelimiter() const;
    // Everything up to and including the last '\' or ':' (a drive).
    TFilePath Folder() const;
    // What follows the folder: the file's or the last folder's name.
    std::wstring Name() const;
    // This path, which ends in a delimiter, followed by a name.
    TFilePath Child(std::wstring_view name) const;

    // The form to hand to the wide file functions. The text itself while
    // Win32 takes it as it is; the \\?\ form when it is too long for
    // MAX_PATH or holds a name that Win32 would change (one ending in a dot
    // or a blank). The long form is made absolute and normalised by our own
    // code: under \\?\ Windows resolves neither "." and ".." nor "/".
    std::wstring Win32() const;

    // The same path from its drive or share, as a journal keeps it so that
    // another current folder finds it again: "." and ".." resolved by our
    // own code, every name exactly as given. Not GetFullPathNameW, which
    // would drop the dot of "album." and make "nul" a device.
    TFilePath Absolute() const;

    // The path in the system code page, for plug-ins that take it so.
    // False when the code page has no exact form of it (see ExactName in
    // PathText.h), when it holds a name that the plain form would change
    // (see KeptByWin32), or the form does not fit in MAX_PATH: such a path,
    // handed on, would name another file or none.
    bool ToAnsi(std::string& ansi) const;

    // Whether Win32 takes this one name as it is: not when it ends in a dot
    // or a blank, which Win32 strips ("album." would open "album"), nor
    // when it names a device ("aux", "nul.txt", "com1.mp3"). Such a name is
    // reached only through the \\?\ form.
    static bool KeptByWin32(std::wstring_view name);
    // Whether Win32 takes every name of this path as it is.
    bool KeptByWin32() const;

    bool operator==(const TFilePath& other) const { return text_ == other.text_; }
    bool operator!=(const TFilePath& other) const { return text_ != other.text_; }

private:
    std::wstring text_;
};

#endif
