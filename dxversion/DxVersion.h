// GetDXVersion: which DirectX release is installed, as a number and as a short text.
// The executable exports it under this undecorated name (GetDXVersion.def); callers that load
// the executable as a library find it with GetProcAddress and call it through PFN_GETDXVERSION.
#pragma once
#include <windows.h>

// version: (major << 16) | (minor << 8) | letter number (a = 1 ... z = 26), e.g. 0x00090003 for
// 9.0c; text: "9.0c" or "8.1", cut to textSize bytes and always terminated. Either may be null;
// the text is written only when textSize is greater than 0. S_OK, or E_FAIL when no probe could
// answer.
extern "C" HRESULT __cdecl GetDXVersion(DWORD* version, char* text, int textSize);

typedef HRESULT(__cdecl* PFN_GETDXVERSION)(DWORD* version, char* text, int textSize);
