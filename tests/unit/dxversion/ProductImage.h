#pragma once
#include <windows.h>
#include <string>

// build/PivoraSetup.exe loaded as a library, moved to where it was mapped and its imports bound,
// as the loader does for a DLL but not for an executable. Null with the reason on failure.
HMODULE LoadProductAsLibrary(std::string* failure);
