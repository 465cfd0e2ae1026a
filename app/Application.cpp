#include "Application.h"

#include <commctrl.h>
#include <ole2.h>

#include "PathText.h"

TApplication Application;

TApplication::~TApplication() {
    if (oleReady_) OleUninitialize();
}

void TApplication::Initialize() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    // The shell's folder picker needs the thread set up for its components.
    oleReady_ = SUCCEEDED(OleInitialize(nullptr));
}

// Wide throughout: the comment and folder fields take any character, and
// a character typed into them must not pass through the code page.
void TApplication::Dispatch(MSG& msg) {
    // Lets Tab and Shift+Tab move the focus between the main window's
    // controls, as in a dialog.
    if (MainWindow != nullptr && IsDialogMessageW(MainWindow, &msg)) return;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

void TApplication::Run() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) Dispatch(msg);
}

void TApplication::ProcessMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // Leave it for the loop in Run, which is what must end.
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        Dispatch(msg);
    }
}

int TApplication::ShowMessage(const char* text, const char* caption, UINT flags) {
    return MessageBoxA(MainWindow, text, caption, flags);
}

void TApplication::ShowException(const std::exception& error) {
    if (const auto* user = dynamic_cast<const TUserError*>(&error)) {
        MessageBoxW(MainWindow, user->Text.c_str(), WidePath(Title).c_str(), MB_ICONERROR);
        return;
    }
    ShowMessage(error.what(), Title.c_str(), MB_ICONERROR);
}
