// String-table texts that the run cannot do without.
#pragma once
#include <windows.h>

// Loads string id of module into buffer (size bytes, always terminated). When the load fails or
// yields nothing, buffer takes literal instead, the same text in UTF-16, converted to the ANSI
// code page as LoadStringA converts the string table. False when neither could be had.
bool LoadStringOr(HINSTANCE module, UINT id, const wchar_t* literal, char* buffer, int size);
