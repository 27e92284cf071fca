#include "doubles.h"
#include <stdlib.h>
#include <string.h>

void FakeLog(const char* format, ...)
{
    char path[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("PIVORA_FAKE_LOG", path, sizeof(path));
    if (length == 0 || length >= sizeof(path))
        return;
    char line[1100];
    va_list args;
    va_start(args, format);
    int count = wvsprintfA(line, format, args);
    va_end(args);
    if (count < 0)
        count = 0;
    line[count++] = '\n';
    // Append-only access: lines of several processes never overwrite each other.
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE |
                              FILE_SHARE_DELETE, NULL, OPEN_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, line, count, &written, NULL);
    CloseHandle(file);
}

void FakeLogEnvironment(const char* who)
{
    char names[512];
    DWORD length = GetEnvironmentVariableA("PIVORA_FAKE_ENV_NAMES", names, sizeof(names));
    if (length == 0 || length >= sizeof(names))
        return;
    for (char* name = strtok(names, ";"); name; name = strtok(NULL, ";"))
    {
        char value[1024];
        length = GetEnvironmentVariableA(name, value, sizeof(value));
        if (length == 0 || length >= sizeof(value))
            FakeLog("%s env %s unset", who, name);
        else
            FakeLog("%s env %s=%s", who, name, value);
    }
    char folder[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof(folder), folder);
    FakeLog("%s cwd=%s", who, folder);
}

int FakeEnvInt(const char* name, int fallback)
{
    char value[32];
    DWORD length = GetEnvironmentVariableA(name, value, sizeof(value));
    if (length == 0 || length >= sizeof(value))
        return fallback;
    return atoi(value);
}
