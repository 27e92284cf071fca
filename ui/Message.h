// The message box of the run, with its texts from the string table.
#pragma once
#include <windows.h>

// The message box of the run: text id from the string table, caption string 108 (or the
// caption text given, when the caller loaded it already), no icon unless type asks for one,
// owner as given (null for every message but the destination dialog's). Returns what
// MessageBoxA returns.
int ShowMessage(UINT textId, UINT type, HWND owner = NULL, const char* caption = NULL);
