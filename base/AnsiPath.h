// Paths for the ANSI calls of the run. Windows hands a path that the ANSI code page cannot name
// to an ANSI caller with "?" or a look-alike in place of each missing character (a user
// "Björn" on code page 932), which names another file or none. The run takes such paths in
// UTF-16 and uses them only in a form that the code page names exactly.
#pragma once
#include <windows.h>

// True when wide converts to the ANSI code page exactly: no default character, no best-fit
// look-alike, the same text when converted back. out (size bytes) receives it; on false it
// holds the empty text.
bool ToAnsiExact(const wchar_t* wide, char* out, int size);
// The existing file or folder path in a form that the ANSI code page names exactly: as it is,
// or else its short (8.3) form. False when neither does (short names are off on its volume).
bool GetAnsiPath(const wchar_t* path, char* out, int size);
