// Path texts in the system code page. In Shift_JIS the byte 0x5C ('\') is
// also the second byte of many double-byte characters ("表", "ソ"), so a
// path delimiter can only be found by walking the text character by
// character from its start.
#ifndef KESTRANE_PATH_TEXT_H
#define KESTRANE_PATH_TEXT_H

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

// True when the text's last character is a single-byte '\'.
bool EndsWithPathDelimiter(const std::string& path);
// The text with one '\' appended unless its last character is one.
std::string IncludeTrailingPathDelimiter(const std::string& path);
// Everything up to and including the last '\' or ':' (drive) of the text.
std::string ExtractFilePath(const std::string& path);

// A path (or any text) of the system code page as UTF-16.
std::wstring WidePath(const std::string& path);
// A name read from the file system, in the system code page. False when
// the code page has no exact form of it: a character it lacks would come
// out as a look-alike ("¥" as "\", which makes "¥..¥x" a path out of the
// folder) or as "?", a wildcard. A name holding a wildcard is no exact
// name either. `text` then shows the name as well as the code page can,
// with "?" for each character it lacks.
bool ExactName(const wchar_t* name, std::string& text);
// Any text in a code page (the system's unless named): false when a
// character has no exact form there (it would come out as a look-alike or
// "?").
bool ExactText(std::wstring_view wide, std::string& text, UINT codePage = CP_ACP);
// Any text of a code page as UTF-16; nothing when the bytes are no valid
// text of it. Strict: an invalid sequence fails the whole text instead of
// becoming a replacement character.
std::optional<std::wstring> StrictWide(UINT codePage, std::string_view bytes);

#endif
