#include "base/AnsiPath.h"
#include <wchar.h>

namespace {

// Long enough for every path an ANSI call can take.
const int kWideLimit = 1024;

} // namespace

bool ToAnsiExact(const wchar_t* wide, char* out, int size)
{
    if (!out || size <= 0)
        return false;
    out[0] = '\0';
    if (!wide || lstrlenW(wide) >= kWideLimit)
        return false;
    // The UTF code pages take neither the flag nor the question: they name every character.
    const UINT codePage = GetACP();
    const bool utf = codePage == CP_UTF8 || codePage == CP_UTF7;
    BOOL usedDefault = FALSE;
    if (WideCharToMultiByte(CP_ACP, utf ? 0 : WC_NO_BEST_FIT_CHARS, wide, -1, out, size, NULL,
                            utf ? NULL : &usedDefault) <= 0 ||
        usedDefault)
    {
        out[0] = '\0';
        return false;
    }
    // A code page without best-fit tables may still map a character to another one; only a text
    // that comes back unchanged names the same file.
    wchar_t back[kWideLimit];
    if (MultiByteToWideChar(CP_ACP, 0, out, -1, back, kWideLimit) <= 0 || wcscmp(back, wide) != 0)
    {
        out[0] = '\0';
        return false;
    }
    return true;
}

bool GetAnsiPath(const wchar_t* path, char* out, int size)
{
    if (ToAnsiExact(path, out, size))
        return true;
    wchar_t shortPath[kWideLimit];
    DWORD length = path ? GetShortPathNameW(path, shortPath, kWideLimit) : 0;
    return length > 0 && length < static_cast<DWORD>(kWideLimit) &&
           ToAnsiExact(shortPath, out, size);
}
