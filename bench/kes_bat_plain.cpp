// kes_bat.exe as it would be without its records: the same window and run,
// built from the same sources, but every run writes through the plug-in and
// nothing more, without reading the files back, checking them or keeping
// the journal that undo needs. The benchmark times the two in turn to say
// what the records cost; nothing else may build or ship this program.
#include <windows.h>

#include <stdexcept>

#include "Application.h"
#include "kes_bat_form.h"
#include "kes_bat_texts.h"

namespace {
class TPlainEnvironment : public TRunEnvironment {
public:
    bool KeepRecords() override { return false; }
};
}  // namespace

// As kes_bat.cpp's entry, with the run environment above in the platform's place.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    try {
        Application.Initialize();
        Application.Title = KES_APP_TITLE;
        TPlainEnvironment plain;
        TKesBatForm form;
        form.RunEnvironment = &plain;
        form.Create();
        Application.Run();
    } catch (const std::exception& e) {
        Application.ShowException(e);
    }
    return 0;
}
