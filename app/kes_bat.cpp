// The program entry: the application, its title, the main window, and the
// message loop until the window closes.
#include <windows.h>

#include <stdexcept>

#include "Application.h"
#include "kes_bat_form.h"
#include "kes_bat_texts.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    try {
        Application.Initialize();
        Application.Title = KES_APP_TITLE;
        TKesBatForm form;
        form.Create();
        Application.Run();
    } catch (const std::exception& e) {
        Application.ShowException(e);
    }
    return 0;
}
