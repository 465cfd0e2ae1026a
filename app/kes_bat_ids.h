// Control and menu ids of the main window. The end-to-end tests drive the
// running program through these, so they never change meaning.
#ifndef KESTRANE_KES_BAT_IDS_H
#define KESTRANE_KES_BAT_IDS_H

#define KES_WINDOW_CLASS "TKesBatForm"
#define KES_PREVIEW_CLASS "TKesBatPreview"

#define IDC_BEVEL1 100
#define IDC_LABEL2 101
#define IDC_MEMO_COMMENT 102
#define IDC_LABEL3 103
#define IDC_COMBOBOX_EXT 104
#define IDC_BUTTON_SETTING 105
#define IDC_BUTTON_ABOUT 106
#define IDC_LABEL1 107
#define IDC_EDIT_DIR 108
#define IDC_SPEEDBUTTON1 109
#define IDC_CHECKBOX_SUBDIR 110
#define IDC_LABEL4 111
#define IDC_BUTTON_START 112
#define IDC_GROUPBOX1 113
#define IDC_LABEL_COUNT 114
#define IDC_PROGRESSBAR_COUNT 115
#define IDC_LISTBOX_LOG 116
#define IDC_STATUSBAR_INFO 117

// The preview window's controls.
#define IDC_PREVIEW_SUMMARY 130
#define IDC_PREVIEW_COUNT 131
#define IDC_PREVIEW_PROGRESS 132
#define IDC_PREVIEW_LIST 133

#define IDM_MAINMENU1 200
#define IDM_LOAD_TEXT 201
#define IDM_EXIT 202
#define IDM_ABOUT 203
#define IDM_COPY_LOG 204  // the log's context menu
#define IDM_PREVIEW 205
#define IDM_UNDO 206

#define IDI_KES_BAT 1

#endif
