/* A DLL planted beside a program under the name of a system DLL (version.dll, winmm.dll). When a
   process loads it, it leaves a marker file named PIVORA_PLANT_MARKER + its own file name. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH)
    {
        char marker[MAX_PATH], self[MAX_PATH];
        DWORD length = GetEnvironmentVariableA("PIVORA_PLANT_MARKER", marker, MAX_PATH);
        DWORD selfLength = GetModuleFileNameA(instance, self, MAX_PATH);
        const char* name = self + selfLength;
        while (name > self && name[-1] != '\\')
            --name;
        if (length > 0 && length + lstrlenA(name) < MAX_PATH)
        {
            lstrcatA(marker, name);
            HANDLE file = CreateFileA(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
            if (file != INVALID_HANDLE_VALUE)
                CloseHandle(file);
        }
    }
    return TRUE;
}
