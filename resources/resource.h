// Identifiers of the executable's resources, shared by the code and the resource scripts.
#pragma once

// String table (Japanese).
#define IDS_CAPTION       108  // caption of every message box
#define IDS_RESTART       110  // restart question
#define IDS_FAILED        111  // setup failed
#define IDS_DXOFFER       112  // offer of the DirectX setup
#define IDS_NOSPACE       113  // temporary folder short of space
#define IDS_DXMISSING     116  // DirectX too old, no DirectX setup at hand
#define IDS_INTERRUPTED   120  // setup interrupted
#define IDS_BADPATH       121  // destination not valid or not creatable
#define IDS_DISKFULL      122  // destination short of space
#define IDS_BROWSE_TITLE  123  // title of the folder browser of the destination dialog
#define IDS_INSTALLER_TITLE 130 // title of the inner installer's window, looked for after its start

// Dialog templates and their controls.
#define IDD_WAIT          110
#define IDD_DESTINATION   113
#define IDC_FOLDER_EDIT   1005
#define IDC_BROWSE        1006

// Application icon.
#define IDI_APP           1

// Payloads: custom resource type and ids. IDR_CHECKSUMS holds the CRC-32 of the plain payload
// of IDR_ARCHIVE, then of IDR_WMFDIST, each as a little-endian 32-bit number.
#define RT_PIVORA_PAYLOAD 1001
#define IDR_ARCHIVE       207
#define IDR_WMFDIST       203
#define IDR_CHECKSUMS     209
