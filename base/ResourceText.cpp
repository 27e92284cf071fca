#include "base/ResourceText.h"

bool LoadStringOr(HINSTANCE module, UINT id, const wchar_t* literal, wchar_t* buffer, int count)
{
    if (count <= 0)
        return false;
    buffer[0] = L'\0';
    if (LoadStringW(module, id, buffer, count) > 0 && buffer[0])
        return true;
    lstrcpynW(buffer, literal ? literal : L"", count);
    return buffer[0] != L'\0';
}
