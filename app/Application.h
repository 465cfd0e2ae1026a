// The application object: its title, its message loop and the dispatch step
// that a long operation uses to keep the window alive, its message box and
// its standard display of an error that escaped an event handler.
#ifndef KESTRANE_APPLICATION_H
#define KESTRANE_APPLICATION_H

#include <windows.h>

#include <exception>
#include <stdexcept>
#include <string>

// An error for the user whose message holds names of any characters (a
// file's path): shown as it is, where std::exception's text would be in the
// code page.
class TUserError : public std::runtime_error {
public:
    explicit TUserError(std::wstring text) : std::runtime_error("TUserError"), Text(std::move(text)) {}
    std::wstring Text;
};

class TApplication {
public:
    std::string Title;
    // The window that owns message boxes and whose dialog keys (Tab) the
    // loop translates; set by the main window when it is created.
    HWND MainWindow = nullptr;

    TApplication() = default;
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;
    ~TApplication();

    void Initialize();
    // Runs the message loop until the main window has closed.
    void Run();
    // Dispatches every pending message, then returns.
    void ProcessMessages();
    // A box owned by the main window: the application takes no other input
    // until it is closed.
    int ShowMessage(const char* text, const char* caption, UINT flags);
    // The standard error display: the error's message under the title, with
    // the stop icon.
    void ShowException(const std::exception& error);

private:
    void Dispatch(MSG& msg);

    bool oleReady_ = false;
};

extern TApplication Application;

#endif
