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

// The comment choice's texts and the option in use, where the plug-in
// offers one.
void ShowChoice(HWND dialog, const CommentChoice& choice) {
    SetDlgItemTextA(dialog, IDC_CHOICE_GROUP, choice.caption);
    for (size_t i = 0; i < choice.options.size(); ++i)
        SetDlgItemTextA(dialog, static_cast<int>(IDC_CHOICE_FIRST + i), choice.options[i].label);
    const int count = static_cast<int>(choice.options.size());
    CheckRadioButton(dialog, IDC_CHOICE_FIRST, IDC_CHOICE_FIRST + count - 1,
                     static_cast<int>(IDC_CHOICE_FIRST + CommentOption()));
}

size_t CheckedOption(HWND dialog, const CommentChoice& choice) {
    for (size_t i = 0; i < choice.options.size(); ++i) {
        if (IsDlgButtonChecked(dialog, static_cast<int>(IDC_CHOICE_FIRST + i)) == BST_CHECKED) return i;
    }
    return CommentOption();
}

// Both settings kept; false when either could not be.
bool SaveChoices(HWND dialog) {
    const CommentChoice* choice = kPluginFormat.choice;
    return SaveKeepModifiedTime(IsDlgButtonChecked(dialog, IDC_KEEP_TIME) == BST_CHECKED) &&
           (!choice || SaveCommentOption(CheckedOption(dialog, *choice)));
}

// The dialog's result: IDOK once the choice is kept, IDCANCEL otherwise.
INT_PTR CALLBACK SettingsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        CheckDlgButton(dialog, IDC_KEEP_TIME, KeepModifiedTime() ? BST_CHECKED : BST_UNCHECKED);
        if (kPluginFormat.choice) ShowChoice(dialog, *kPluginFormat.choice);
        return TRUE;
    }
    if (message != WM_COMMAND) return FALSE;
    switch (LOWORD(wParam)) {
        case IDOK:
            if (!SaveChoices(dialog)) {
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
        DialogBoxParamA(ThisModule(), MAKEINTRESOURCEA(kPluginFormat.choice ? IDD_SETTINGS_CHOICE : IDD_SETTINGS),
                        owner, SettingsProc, 0);
    return result == IDOK || result == IDCANCEL ? 0 : 1;
}

}  // namespace kes
