#include "ui/Message.h"
#include "base/Module.h"
#include "resources/resource.h"

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
