// The two ways of finding the DirectX release behind GetDXVersion, and their file-version
// helpers. A release is major, minor and a letter; a blank letter means none.
#pragma once
#include <windows.h>

const char DX_LETTER_NONE = ' ';

// Asks the DirectX diagnostics provider. S_OK only when major, minor and letter were all read;
// values read before a failure are stored all the same.
HRESULT ProbeDxDiag(DWORD* major, DWORD* minor, char* letter);

// Infers the release from the file versions of DirectX components in the system directory.
// Always S_OK; 0.0 when nothing could be read.
HRESULT ProbeSystemFiles(DWORD* major, DWORD* minor, char* letter);
// The same against any folder (no trailing backslash; the file names begin with one).
HRESULT ProbeFolderFiles(const char* folder, DWORD* major, DWORD* minor, char* letter);

// The file version of path as (dwFileVersionMS << 32) | dwFileVersionLS. E_INVALIDARG for a
// null argument, E_FAIL without a readable version record, E_OUTOFMEMORY.
HRESULT ReadFileVersion(const char* path, ULONGLONG* version);

// 1 when a > b, 0 when equal, -1 when a < b.
int CompareVersions(ULONGLONG a, ULONGLONG b);

// Stores a release in GetDXVersion's two outputs: the letter is lowered; only a to z count in
// the number; the text is cut to textSize bytes and its last byte is always a NUL.
void StoreDxVersion(DWORD major, DWORD minor, char letter, DWORD* version, char* text,
                    int textSize);
