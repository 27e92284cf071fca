// String-table texts that the run cannot do without.
#pragma once
#include <windows.h>

// Loads string id of module into buffer (count UTF-16 units, always terminated). When the load
// fails or yields nothing, buffer takes literal instead, the same text. False when neither could
// be had.
bool LoadStringOr(HINSTANCE module, UINT id, const wchar_t* literal, wchar_t* buffer, int count);
