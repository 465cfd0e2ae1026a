// The object behind a window of the program's own classes: handed over in
// CreateWindowEx's last argument and kept in the window's user data, so
// that one static window procedure per class can pass each message on.
#ifndef KESTRANE_WINDOW_OBJECT_H
#define KESTRANE_WINDOW_OBJECT_H

#include <windows.h>

// The object for `hwnd`, null for the messages that come before
// WM_NCCREATE. On WM_NCCREATE it takes the object from the creation data
// and gives it its handle. lpCreateParams is the first field of both
// CREATESTRUCTA and CREATESTRUCTW, so this serves windows of either kind.
template <class TWindow>
TWindow* WindowObject(HWND hwnd, UINT msg, LPARAM lParam) {
    if (msg != WM_NCCREATE) return reinterpret_cast<TWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    auto* window = static_cast<TWindow*>(reinterpret_cast<const CREATESTRUCTW*>(lParam)->lpCreateParams);
    window->Handle = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
    return window;
}

#endif
