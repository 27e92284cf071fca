// Registry access: the few operations the run uses for its hand-off values under
// HKEY_LOCAL_MACHINE. Every operation opens the key, does one thing and closes it again.
#pragma once
#include <windows.h>
#include "base/Text.h"

// Keys and values of the hand-off with the inner installer and the setup manager.
const char PIVORA_KEY[] = "Software\\Halvoro\\PIVORA";
const char PIVORA_KEY_LOWER[] = "Software\\Halvoro\\pivora";
const char SETUPMGR_KEY[] = "Software\\Halvoro\\SetupMgr";
const char VALUE_REQUIREREBOOT[] = "RequireReboot";
const char VALUE_CANCELED[] = "CANCELED";
const char VALUE_PROGRAMSPATH[] = "ProgramsPath";
const char VALUE_PATH[] = "Path";
const char VALUE_ABORT[] = "Abort";

// The inner installer and the setup managers that share these values are 32-bit programs, so
// the values live in the 32-bit view of the registry. A 32-bit build sees that view anyway and
// asks for nothing (older systems refuse the flag); a 64-bit build asks for it explicitly.
const REGSAM kRegistryView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : 0;

// Size of the buffer that RegReadString fills: a value of up to 254 characters and its NUL.
const int REG_STRING_BUFFER = 256;

// Reads a string into buffer (at least REG_STRING_BUFFER bytes); a missing value, or one that
// does not fit with its terminator, yields the default. The result is always terminated.
void RegReadString(HKEY root, const char* subKey, const char* name, const char* defaultText,
                   char* buffer);
// 1 when the value was read, 0 when the default was used (also for data shorter than a DWORD).
int RegReadDword(HKEY root, const char* subKey, const char* name, DWORD* value, DWORD defaultValue);
// 1 when the key could be created or opened, else 0.
int RegWriteString(HKEY root, const char* subKey, const char* name, const char* text);
int RegWriteDword(HKEY root, const char* subKey, const char* name, DWORD value);

class CRegistryKey
{
public:
    CRegistryKey(HKEY root, const char* subKey);
    CRegistryKey(const CRegistryKey&) = delete;
    CRegistryKey& operator=(const CRegistryKey&) = delete;

    // 1 when the value was deleted; 0 when the key could not be opened or the value was absent.
    int DeleteValue(const char* name);
    // The value, or the default, in out.
    CText& ReadString(CText& out, const char* name, const char* defaultText);

    HKEY m_Root;
    char m_SubKey[1024];
    char m_ValueBuffer[2048];
};
