// The message box of the run, with its texts from the string table.
#pragma once
#include <windows.h>

// The message box of the run: text id from the string table, caption string 108 (or the
// caption text given, when the caller loaded it already), no icon unless type asks for one,
// owner as given (null for every message but the destination dialog's). The texts are loaded
// and shown in UTF-16, so that they read right whatever the ANSI code page. Returns what
// MessageBoxW returns.
int ShowMessage(UINT textId, UINT type, HWND owner = NULL, const wchar_t* caption = NULL);
