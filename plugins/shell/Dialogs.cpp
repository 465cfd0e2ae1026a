#include "Dialogs.h"

#include <string>

#include "CpiShell.h"
#include "Settings.h"
#include "resource.h"

namespace kes {
namespace {

constexpr char kAboutCaption[] = "情報";
constexpr char kAboutLine[] = "のコメントを書き込むプラグインです。";
constexpr char kSaveFailedCaption[] = "警告";
constexpr char kSaveFailed[] = "設定を保存できませんでした。";

// The dialog's result: IDOK once the choice is kept, IDCANCEL otherwise.
INT_PTR CALLBACK SettingsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        CheckDlgButton(dialog, IDC_KEEP_TIME, KeepModifiedTime() ? BST_CHECKED : BST_UNCHECKED);
        return TRUE;
    }
    if (message != WM_COMMAND) return FALSE;
    switch (LOWORD(wParam)) {
        case IDOK:
            if (!SaveKeepModifiedTime(IsDlgButtonChecked(dialog, IDC_KEEP_TIME) == BST_CHECKED)) {
                MessageBoxA(dialog, kSaveFailed, kSaveFailedCaption, MB_OK | MB_ICONEXCLAMATION);
                EndDialog(dialog, IDABORT);
            } else {
                EndDialog(dialog, IDOK);
            }
            return TRUE;
        case IDCANCEL: EndDialog(dialog, IDCANCEL); return TRUE;
    }
    return FALSE;
}

}  // namespace

int ShowAbout(HWND owner) {
    const std::string text =
        std::string(kPluginFormat.description) + kAboutLine + "\n" + VersionText();
    return MessageBoxA(owner, text.c_str(), kAboutCaption, MB_OK | MB_ICONINFORMATION) == 0 ? 1 : 0;
}

int ShowSettings(HWND owner) {
    const INT_PTR result =
        DialogBoxParamA(ThisModule(), MAKEINTRESOURCEA(IDD_SETTINGS), owner, SettingsProc, 0);
    return result == IDOK || result == IDCANCEL ? 0 : 1;
}

}  // namespace kes
