// Putting text on the clipboard.
#ifndef KESTRANE_CLIPBOARD_H
#define KESTRANE_CLIPBOARD_H

#include <windows.h>

#include <string>

// Puts text of the system code page on the clipboard, both in that code
// page and in UTF-16, so that a program of either kind pastes exactly this
// text whatever the language it assumes. False when the clipboard could not
// be had.
bool CopyText(HWND owner, const std::string& text);

#endif
