// Resource ids of the demo inner installer.
#pragma once

#define IDD_DEMO_SETUP        100
#define IDC_DEMO_DESTINATION  1001

#define IDS_DEMO_CAPTION      1
#define IDS_DEMO_NO_FOLDER    2   // ProgramsPath is not set
#define IDS_DEMO_NOT_SET      3   // shown in place of a missing folder
#define IDS_DEMO_COPY_FAILED  4   // %s: the file that could not be installed

// The sample files that Install copies, relative to the installer's own folder and to the
// destination: consecutive ids from here, up to the first id without a string.
#define IDS_DEMO_FILE_FIRST   100
