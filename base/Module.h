// Process-wide helpers: the module instance, the module directory, the fold of a Win32 error
// into a result code, and the functions of system DLLs.
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
// The result of a call that failed: the folded last error, or E_FAIL when the call left no
// error behind. A failure must never read as success.
HRESULT HResultFromFailure();

// Loads a DLL of the system directory by its full path, never through the search order (a DLL
// planted beside the program must not be taken). Null when it cannot be loaded.
HMODULE LoadSystemLibrary(const char* name);
// The address of a function of such a DLL, loading it on first use; null when either is missing.
FARPROC GetSystemProcAddress(const char* dllName, const char* procName);
// GetSystemProcAddress as a pointer of the function's own type.
template <typename Function>
Function GetSystemFunction(const char* dllName, const char* procName)
{
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetSystemProcAddress(dllName, procName)));
}
