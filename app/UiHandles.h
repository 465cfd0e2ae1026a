// Owners of the window's own handles: GDI objects, menus, dropped files.
// One owner each, so that every path out of a handler releases them.
#ifndef KESTRANE_UI_HANDLES_H
#define KESTRANE_UI_HANDLES_H

#include <windows.h>
#include <shellapi.h>

// A GDI object (font, brush, pen) that the program created and must delete.
class CGdiObject {
public:
    explicit CGdiObject(HGDIOBJ h = nullptr) : h_(h) {}
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;
    ~CGdiObject() {
        if (h_ != nullptr) DeleteObject(h_);
    }
    HGDIOBJ Get() const { return h_; }

private:
    HGDIOBJ h_;
};

// A popup menu that the program made (CreatePopupMenu).
class CMenu {
public:
    explicit CMenu(HMENU h) : h_(h) {}
    CMenu(const CMenu&) = delete;
    CMenu& operator=(const CMenu&) = delete;
    ~CMenu() {
        if (h_ != nullptr) DestroyMenu(h_);
    }
    HMENU Get() const { return h_; }

private:
    HMENU h_;
};

// The files dropped on a window (WM_DROPFILES), released with DragFinish.
class CDrop {
public:
    explicit CDrop(HDROP h) : h_(h) {}
    CDrop(const CDrop&) = delete;
    CDrop& operator=(const CDrop&) = delete;
    ~CDrop() { DragFinish(h_); }

private:
    HDROP h_;
};

#endif
