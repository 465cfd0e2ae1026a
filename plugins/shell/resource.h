// Resource ids of the shell's dialogs, shared by the .rc file and the code.
#ifndef KESTRANE_PLUGINS_RESOURCE_H
#define KESTRANE_PLUGINS_RESOURCE_H

#define IDD_SETTINGS 100
#define IDC_KEEP_TIME 101
// The same with a plug-in's comment choice: a group and one radio button
// for each option, numbered on from the first.
#define IDD_SETTINGS_CHOICE 102
#define IDC_CHOICE_GROUP 103
#define IDC_CHOICE_FIRST 104

#endif
