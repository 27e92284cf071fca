// Small helpers shared by the test programs.
#pragma once
#include <windows.h>
#include <string>
#include <vector>
#include "driver/DialogDriver.h"   // WriteFileBytes, ProgramDir

// A UTF-8 literal as code page 932 bytes, for expected Japanese texts.
std::string Sjis(const char* utf8);

// A new, unique folder under the temporary folder, with a trailing backslash.
std::string MakeTempDir(const char* prefix);
// Removes a folder with everything in it (or a file).
void RemoveTree(const std::string& path);

bool ReadFileBytes(const std::string& path, std::string* data);
bool FileExists(const std::string& path);
// The names in a folder that match the pattern, "." and ".." left out, sorted.
std::vector<std::string> ListFolder(const std::string& folder, const char* pattern = "*");
