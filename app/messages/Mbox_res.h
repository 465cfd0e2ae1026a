// The tool's numbered messages and the message boxes built from them.
#ifndef KESTRANE_MBOX_RES_H
#define KESTRANE_MBOX_RES_H

#include <windows.h>

#include <initializer_list>
#include <string>

// The text of a numbered message, or the empty text when the table has no
// such id. At most 1023 bytes.
std::string LoadResString(int id);

// A text of the table with its "%1", "%2"... filled in, in order.
std::wstring FillIn(std::wstring text, std::initializer_list<std::wstring> values);

// A numbered text under a numbered caption; the box is modal over the whole
// application. Returns the box's result.
int MsgBoxRes(int textId, int captionId, UINT flags);
// The caller's text under a numbered caption.
int MsgBoxText(const char* text, int captionId, UINT flags);

#endif
