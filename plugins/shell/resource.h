// Resource ids of the shell's dialog, shared by the .rc file and the code.
#ifndef KESTRANE_PLUGINS_RESOURCE_H
#define KESTRANE_PLUGINS_RESOURCE_H

#define IDD_SETTINGS 100
#define IDC_KEEP_TIME 101

#endif
