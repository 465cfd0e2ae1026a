// Loading comment text from a file.
#ifndef KESTRANE_TEXT_FILE_H
#define KESTRANE_TEXT_FILE_H

#include <optional>
#include <string>

#include "FilePath.h"

// Every line break (CR LF, lone CR, lone LF) as CR LF; the text ends at the
// first NUL.
std::wstring ToCrLfText(std::wstring_view text);

// A text file's bytes as text. A byte-order mark (UTF-8, UTF-16 LE or BE)
// decides; without one, the bytes are UTF-8 when they all are and hold at
// least one character beyond ASCII (what Notepad saves), else Shift_JIS.
// Nothing when they are valid in none of these.
std::optional<std::wstring> DecodeText(const std::string& bytes);

// The whole file as comment text, or nothing when its encoding is none of
// the above. Throws TUserError with a message for the user when the file
// cannot be opened or read.
std::optional<std::wstring> ReadCommentText(const TFilePath& path);

#endif
