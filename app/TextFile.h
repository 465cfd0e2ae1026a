// Loading comment text from a file.
#ifndef KESTRANE_TEXT_FILE_H
#define KESTRANE_TEXT_FILE_H

#include <string>

// Every line break (CR LF, lone CR, lone LF) as CR LF; the text ends at the
// first zero byte. Bytes are otherwise kept: the system code page's text.
std::string ToCrLfText(const std::string& bytes);

// The whole file as comment text. Throws std::runtime_error with a message
// for the user when the file cannot be opened or read.
std::string ReadCommentText(const std::string& path);

#endif
