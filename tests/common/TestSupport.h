// Small helpers shared by the test programs.
#pragma once
#include <windows.h>
#include <stdlib.h>
#include <string>
#include <vector>
#include "driver/DialogDriver.h"   // WriteFileBytes, ProgramDir

// A UTF-8 literal as code page 932 bytes, for expected Japanese texts.
std::string Sjis(const char* utf8);

// A new, unique folder under the temporary folder (or under parent, ending with a backslash),
// with a trailing backslash; empty when none can be made.
std::string MakeTempDir(const char* prefix, const std::string& parent = "");
// Removes a folder with everything in it (or a file).
void RemoveTree(const std::string& path);

bool ReadFileBytes(const std::string& path, std::string* data);
bool FileExists(const std::string& path);
// The names in a folder that match the pattern, "." and ".." left out, sorted.
std::vector<std::string> ListFolder(const std::string& folder, const char* pattern = "*");

// Wine's settings for the programs of this name started while it lives: values in
// HKCU\Software\Wine\AppDefaults\<program><subkey> ("\\DllOverrides", or "" for the key itself).
// Wine takes a child's settings from the registry, not from the environment its parent hands it.
class CWineSettings
{
public:
    CWineSettings(const std::string& program, const char* subkey, const std::vector<std::pair<const char*, const char*>>& values);
    ~CWineSettings() { RegDeleteTreeA(HKEY_CURRENT_USER, m_strKey.c_str()); }
    CWineSettings(const CWineSettings&) = delete;
    CWineSettings& operator=(const CWineSettings&) = delete;

private:
    std::string m_strKey;
};

// Runs the calling test once more, in a copy of this program named copyName with those Wine
// settings, and returns the copy's exit code. In the copy, IsTestCopy() is true.
int RunTestInCopy(const std::string& copyName, const char* subkey, const std::vector<std::pair<const char*, const char*>>& values);
inline bool IsTestCopy() { return getenv("PIVORA_TEST_COPY") != NULL; }
