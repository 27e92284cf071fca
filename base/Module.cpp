#include "base/Module.h"
#include "base/Text.h"
#include "resources/resource.h"

// A plain global: it must be usable before and after every static constructor and destructor.
static HINSTANCE g_hModuleInstance;

void SetModuleInstance(HINSTANCE hInstance)
{
    g_hModuleInstance = hInstance;
}

HINSTANCE GetModuleInstance()
{
    return g_hModuleInstance ? g_hModuleInstance : GetModuleHandleA(NULL);
}

int GetModuleDirectory(char* buffer, int size)
{
    if (!buffer || size <= 0)
        return 0;
    buffer[0] = '\0';
    char szFile[MAX_PATH * 4];
    DWORD nLength = GetModuleFileNameA(GetModuleInstance(), szFile, sizeof(szFile));
    // A length equal to the buffer means the name was cut: better no directory than a wrong one.
    if (nLength == 0 || nLength >= sizeof(szFile))
        return 0;
    return JoinDriveDirectory(szFile, buffer, size) ? 1 : 0;
}

HRESULT FoldWin32Error(LONG error)
{
    if (error <= 0)
        return (HRESULT)error;
    return (HRESULT)(0x80070000UL | ((ULONG)error & 0xFFFF));
}

HRESULT HResultFromLastError()
{
    return FoldWin32Error((LONG)GetLastError());
}

bool IsLeadByte(unsigned char c)
{
    return c >= 0x80 && IsDBCSLeadByte(c);
}

// The trail-byte ranges of the double-byte code pages. Only a lead byte followed by one of these
// forms a character; any other byte after a lead byte stands on its own.
static bool IsValidTrailByte(unsigned char c)
{
    switch (GetACP())
    {
    case 932:   // Shift-JIS
        return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC);
    case 936:   // GBK
        return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFE);
    case 949:   // Unified Hangul Code
        return (c >= 0x41 && c <= 0x5A) || (c >= 0x61 && c <= 0x7A) || (c >= 0x81 && c <= 0xFE);
    case 950:   // Big5
        return (c >= 0x40 && c <= 0x7E) || (c >= 0xA1 && c <= 0xFE);
    case 1361:  // Johab
        return (c >= 0x31 && c <= 0x7E) || (c >= 0x81 && c <= 0xFE);
    default:
        return c != 0;
    }
}

bool IsDoubleBytePair(unsigned char lead, unsigned char trail)
{
    return IsLeadByte(lead) && IsValidTrailByte(trail);
}

bool IsTrailByteAt(const char* text, int index)
{
    if (!text || index <= 0)
        return false;
    int i = 0;
    while (i < index && text[i])
    {
        if (IsDoubleBytePair((unsigned char)text[i], (unsigned char)text[i + 1]))
        {
            if (i + 1 == index)
                return true;
            i += 2;
        }
        else
            i++;
    }
    return false;
}

int ShowMessage(UINT textId, UINT type, HWND owner, const char* caption)
{
    char szText[1024];
    char szCaption[256];
    szText[0] = '\0';
    szCaption[0] = '\0';
    HINSTANCE hInstance = GetModuleInstance();
    LoadStringA(hInstance, textId, szText, sizeof(szText));
    if (!caption)
        LoadStringA(hInstance, IDS_CAPTION, szCaption, sizeof(szCaption));
    return MessageBoxA(owner, szText, caption ? caption : szCaption, type);
}

HMODULE LoadSystemLibrary(const char* name)
{
    char path[MAX_PATH + 32];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || lstrlenA(name) > 30)
        return NULL;
    if (path[length - 1] != '\\')
        path[length++] = '\\';
    lstrcpyA(path + length, name);
    return LoadLibraryA(path);
}

FARPROC GetSystemProcAddress(const char* dllName, const char* procName)
{
    // The module stays loaded for the rest of the process; a second load only counts it again.
    HMODULE module = LoadSystemLibrary(dllName);
    return module ? GetProcAddress(module, procName) : NULL;
}
