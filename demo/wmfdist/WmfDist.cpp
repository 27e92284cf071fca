// Demo stand-in for the Windows Media Format redistributable. With /Q (as PivoraSetup.exe
// runs it) it ends at once with 0 and shows nothing; started by hand it says what it is.
#include <windows.h>
#include "WmfResource.h"

namespace
{
bool HasQuietSwitch(const char* commandLine)
{
    char copy[1024];
    lstrcpynA(copy, commandLine, sizeof(copy));
    for (char* token = strtok(copy, " \t"); token; token = strtok(NULL, " \t"))
    {
        if (lstrcmpiA(token, "/Q") == 0 || lstrcmpiA(token, "-Q") == 0)
            return true;
    }
    return false;
}
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR lpCmdLine, int)
{
    if (HasQuietSwitch(lpCmdLine))
        return 0;
    char caption[128];
    char text[512];
    if (LoadStringA(hInstance, IDS_WMF_CAPTION, caption, sizeof(caption)) > 0
        && LoadStringA(hInstance, IDS_WMF_INFO, text, sizeof(text)) > 0)
        MessageBoxA(NULL, text, caption, MB_OK | MB_ICONINFORMATION);
    return 0;
}
