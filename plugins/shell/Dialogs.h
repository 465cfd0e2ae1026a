#ifndef KESTRANE_PLUGINS_DIALOGS_H
#define KESTRANE_PLUGINS_DIALOGS_H

#include <windows.h>

namespace kes {

// Both are modal and owned by `owner`; 0 on success, as ConfigurationDlg
// answers.
int ShowAbout(HWND owner);
// Cancelling is success too; failing to keep the choice is not.
int ShowSettings(HWND owner);

}  // namespace kes

#endif
