// Putting text on the clipboard.
#ifndef KESTRANE_CLIPBOARD_H
#define KESTRANE_CLIPBOARD_H

#include <windows.h>

#include <string>

// Puts the text on the clipboard. False when the clipboard could not be had.
bool CopyText(HWND owner, const std::wstring& text);

#endif
