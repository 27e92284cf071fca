/* A DLL with nothing in it but a version record: a stand-in for a DirectX component. */
#include <windows.h>

BOOL WINAPI VersionedEntry(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
