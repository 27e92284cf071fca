// The folder rules of the setup: whether a folder exists, which names a folder may have, the
// creation of every missing level, the room on the volume, and the shell's folder browser. All
// paths are NUL-terminated texts in the ANSI code page; every byte test is double-byte aware.
#pragma once
#include <windows.h>

// The room the destination must offer to the user: 100 MB.
const ULONGLONG kDestinationMinFreeBytes = 104857600;

// The free-space query of the destination check. A seam, so that tests can give the volume any
// free space without filling a disk; it is GetDiskFreeSpaceExA.
typedef BOOL(WINAPI* GetDiskFreeSpaceExProc)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER,
                                             PULARGE_INTEGER);
extern GetDiskFreeSpaceExProc g_pGetDiskFreeSpaceEx;

// The path names an existing folder, or a drive root that exists.
bool FolderExists(const char* path);
// The text contains none of the characters that folder names may not contain.
bool CheckNameChars(const char* text, bool allowBackslash);
// Every level after the first (the drive) is a well-formed folder name. With parentOnly, the
// last level (a file name) is left out.
bool ValidateFolderPath(const char* path, bool parentOnly);
// Every missing level is created, from the root down. With parentOnly, the last level is not.
bool CreateFolderPath(const char* path, bool parentOnly);
// The volume of path offers the user at least kDestinationMinFreeBytes; false also when the
// free space cannot be read.
bool HasSetupRoom(const char* path);
// What came of the folder browser.
enum BrowseResult
{
    BrowseNotShown,    // the shell's allocator is not available
    BrowseDone,        // out holds the chosen folder, or the empty text when the user cancelled
    BrowseUnnamable,   // the chosen folder has a name that the ANSI code page lacks
};
// The shell's folder browser, titled in UTF-16 and opened on initial; out (at least MAX_PATH
// bytes) receives the chosen folder as the ANSI code page names it exactly, never with "?" in
// place of a character it lacks: such a folder leaves out empty.
BrowseResult BrowseForFolder(HWND owner, const wchar_t* title, const char* initial, char* out,
                             UINT flags);
// Preselects the folder given as data when the browser opens.
int CALLBACK BrowseCallback(HWND window, UINT message, LPARAM lParam, LPARAM data);
