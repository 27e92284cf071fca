// build/PivoraSetup.exe loaded as a library in the test program, made callable.
#pragma once
#include <windows.h>
#include <string>

// Loads the executable as a library, moves it to where it was mapped and binds its imports,
// as the loader does for a DLL but not for an executable. Null with the reason on failure.
HMODULE LoadProductAsLibrary(std::string* failure);
