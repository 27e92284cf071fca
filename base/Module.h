// Process-wide helpers: the module instance, the module directory, the fold of a Win32 error
// into a result code, the double-byte test of the ANSI code page, and the message box.
#pragma once
#include <windows.h>

// The module instance handle, recorded first thing by WinMain; every string-table load and
// every dialog uses it. Before it is set it answers the process's own module.
void SetModuleInstance(HINSTANCE hInstance);
HINSTANCE GetModuleInstance();

// Fills buffer with the drive and directory of the program file, keeping the trailing
// backslash. Returns 1, or 0 when the module file name cannot be had.
int GetModuleDirectory(char* buffer, int size);

// A Win32 error e becomes 0x80070000 | (e & 0xFFFF); a value of 0 or below passes unchanged.
HRESULT FoldWin32Error(LONG error);
// FoldWin32Error of the calling thread's last error.
HRESULT HResultFromLastError();

// True when lead and trail form one double-byte character of the ANSI code page: lead is a
// lead byte and trail a valid trail byte (code page 932: 0x40-0x7E and 0x80-0xFC).
bool IsDoubleBytePair(unsigned char lead, unsigned char trail);
// True when text[index] is the second byte of a double-byte character, scanning from the start.
bool IsTrailByteAt(const char* text, int index);
// True when c is a lead byte of the ANSI code page (whatever follows it).
bool IsLeadByte(unsigned char c);

// The message box of the run: text id from the string table, caption string 108 (or the
// caption text given, when the caller loaded it already), no icon unless type asks for one,
// owner as given (null for every message but the destination dialog's). Returns what
// MessageBoxA returns.
int ShowMessage(UINT textId, UINT type, HWND owner = NULL, const char* caption = NULL);

// Loads a DLL of the system directory by its full path, never through the search order (a DLL
// planted beside the program must not be taken). Null when it cannot be loaded.
HMODULE LoadSystemLibrary(const char* name);
// The address of a function of such a DLL, loading it on first use; null when either is missing.
FARPROC GetSystemProcAddress(const char* dllName, const char* procName);
