/* The naive program: loads version.dll and winmm.dll by name, as any program does that lets the
   search order decide. Beside planted DLLs it loads them, which shows that the planting works. */
#include <windows.h>

int main(void)
{
    LoadLibraryA("version.dll");
    LoadLibraryA("winmm.dll");
    return 0;
}
