#include "base/ResourceText.h"

bool LoadStringOr(HINSTANCE module, UINT id, const wchar_t* literal, char* buffer, int size)
{
    if (size <= 0)
        return false;
    buffer[0] = '\0';
    if (LoadStringA(module, id, buffer, size) > 0 && buffer[0])
        return true;
    if (WideCharToMultiByte(CP_ACP, 0, literal, -1, buffer, size, NULL, NULL) > 0)
        return true;
    buffer[0] = '\0';
    return false;
}
