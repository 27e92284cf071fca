// Files and folders opened through the native call, by a name inside a folder that is already
// open: the name is looked up in that very folder, whatever a path to it leads to by now. An
// elevated run that works in folders a user can change reaches what it checked, and nothing a
// link or a renamed level put in its place.
#pragma once
#include <windows.h>
#include "base/ScopedHandle.h"

// NtCreateFile's dispositions and options, which the SDK headers of user mode leave out.
const ULONG kNtFileOpen = 0x00000001;           // FILE_OPEN
const ULONG kNtFileCreate = 0x00000002;         // FILE_CREATE
const ULONG kNtFileOpenIf = 0x00000003;         // FILE_OPEN_IF
const ULONG kNtDirectoryFile = 0x00000001;      // FILE_DIRECTORY_FILE
const ULONG kNtWriteThrough = 0x00000002;       // FILE_WRITE_THROUGH
const ULONG kNtSynchronousIo = 0x00000020;      // FILE_SYNCHRONOUS_IO_NONALERT
const ULONG kNtNonDirectoryFile = 0x00000040;   // FILE_NON_DIRECTORY_FILE
const ULONG kNtDeleteOnClose = 0x00001000;      // FILE_DELETE_ON_CLOSE
const ULONG kNtOpenReparsePoint = 0x00200000;   // FILE_OPEN_REPARSE_POINT

// Opens or makes name (length UTF-16 units) in the folder open as folder, or, with folder null,
// the full native name ("\??\C:\..."). access, share, disposition and options as NtCreateFile
// takes them; synchronous I/O and the entry itself, never what a link points to, are always
// asked for. security, when not null, is given to what is made. The Windows error, or
// ERROR_SUCCESS with the handle in handle; created tells whether the call made the entry.
DWORD OpenNative(HANDLE folder, const wchar_t* name, int length, ACCESS_MASK access, ULONG share,
                 ULONG disposition, ULONG options, PSECURITY_DESCRIPTOR security,
                 CKernelHandle& handle, bool* created = NULL);
