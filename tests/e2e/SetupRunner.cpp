#include "e2e/SetupRunner.h"
#include <set>
#include "driver/DialogDriver.h"
#include "common/TestSupport.h"

namespace {

std::string EnvironmentBlock(const std::vector<std::pair<std::string, std::string>>& changes)
{
    std::vector<std::string> entries;
    char* block = GetEnvironmentStringsA();
    for (const char* p = block; *p; p += lstrlenA(p) + 1)
        entries.push_back(p);
    FreeEnvironmentStringsA(block);
    for (const auto& change : changes)
    {
        std::string prefix = change.first + "=";
        for (auto it = entries.begin(); it != entries.end();)
            it = lstrcmpiA(it->substr(0, prefix.size()).c_str(), prefix.c_str()) == 0
                     ? entries.erase(it)
                     : it + 1;
        entries.push_back(prefix + change.second);
    }
    std::string out;
    for (const auto& entry : entries)
        out += entry + '\0';
    return out + '\0';
}

} // namespace

std::string TestProductPath()
{
    return ProgramDir() + "PivoraSetup_e2e.exe";
}

RunResult RunSetup(const SetupRun& run)
{
    RunResult result;
    std::string exe = run.exe.empty() ? TestProductPath() : run.exe;
    std::string commandLine = "\"" + exe + "\"";
    if (!run.arguments.empty())
        commandLine += " " + run.arguments;
    std::string environment = EnvironmentBlock(run.environment);

    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    if (!CreateProcessA(exe.c_str(), line.data(), NULL, NULL, FALSE, 0, &environment[0], NULL,
                        &si, &pi))
        return result;
    result.started = true;
    CloseHandle(pi.hThread);

    const std::string destinationTitle = Sjis(u8"セットアップ先の選択");
    std::set<HWND> handledDialogs;
    int shots = 0;
    auto shoot = [&](HWND hwnd) {
        if (!run.screenshotPrefix.empty())
            SaveWindowPng(hwnd, ScreenshotPath((run.screenshotPrefix + "-" +
                                                std::to_string(++shots)).c_str()));
    };

    DWORD start = GetTickCount();
    while (WaitForSingleObject(pi.hProcess, 100) == WAIT_TIMEOUT)
    {
        if (GetTickCount() - start > run.timeoutMs)
        {
            result.timedOut = true;
            TerminateProcess(pi.hProcess, 0xDEAD);
            WaitForSingleObject(pi.hProcess, 5000);
            break;
        }
        if (HWND box = WaitForMessageBox(0, pi.dwProcessId))
        {
            SeenMessage seen;
            seen.text = GetMessageBoxText(box);
            seen.caption = GetWindowTextOf(box);
            seen.buttons = GetButtonIds(box);
            seen.hasIcon = MessageBoxHasIcon(box);
            result.messages.push_back(seen);
            shoot(box);
            int answer = run.onMessage ? run.onMessage(seen)
                                       : (seen.buttons.empty() ? IDOK : seen.buttons[0]);
            PressButton(box, answer);
            WaitForWindowGone(box, 10000);
            continue;
        }
        HWND dialog = FindProcessWindow(pi.dwProcessId, destinationTitle.c_str());
        if (dialog && !handledDialogs.count(dialog) && IsWindowEnabled(dialog))
        {
            handledDialogs.insert(dialog);
            result.destinationShown = true;
            shoot(dialog);
            int button = run.onDestination ? run.onDestination(dialog) : IDOK;
            PressButton(dialog, button);
        }
    }
    GetExitCodeProcess(pi.hProcess, &result.exitCode);
    CloseHandle(pi.hProcess);
    return result;
}

namespace {

// The hand-off values live in the 32-bit view, whichever flavour runs. type 0 takes any type;
// data null only asks whether the value is there.
bool QueryValue(const char* key, const char* name, DWORD type, void* data, DWORD size)
{
    HKEY handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | KEY_WOW64_32KEY, &handle) != ERROR_SUCCESS)
        return false;
    DWORD flags = type == REG_DWORD ? RRF_RT_REG_DWORD : type == REG_SZ ? RRF_RT_REG_SZ : RRF_RT_ANY;
    bool ok = RegGetValueA(handle, NULL, name, flags, NULL, data, data ? &size : NULL) == ERROR_SUCCESS;
    RegCloseKey(handle);
    return ok;
}

void WriteValue(const char* key, const char* name, DWORD type, const void* data, DWORD size)
{
    HKEY handle;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, NULL, 0, KEY_WRITE | KEY_WOW64_32KEY, NULL,
                        &handle, NULL) != ERROR_SUCCESS)
        return;
    if (data)
        RegSetValueExA(handle, name, 0, type, static_cast<const BYTE*>(data), size);
    else
        RegDeleteValueA(handle, name);
    RegCloseKey(handle);
}

} // namespace

bool ReadDwordValue(const char* key, const char* name, DWORD* value)
{
    return QueryValue(key, name, REG_DWORD, value, sizeof(*value));
}

bool ReadStringValue(const char* key, const char* name, std::string* value)
{
    char buffer[2048] = {};
    if (!QueryValue(key, name, REG_SZ, buffer, sizeof(buffer)))
        return false;
    *value = buffer;
    return true;
}

bool ValueExists(const char* key, const char* name)
{
    return QueryValue(key, name, 0, NULL, 0);
}

void SetDwordValue(const char* key, const char* name, DWORD value)
{
    WriteValue(key, name, REG_DWORD, &value, sizeof(value));
}

void SetStringValue(const char* key, const char* name, const char* value)
{
    WriteValue(key, name, REG_SZ, value, lstrlenA(value) + 1);
}

void DeleteValue(const char* key, const char* name)
{
    WriteValue(key, name, REG_NONE, NULL, 0);
}
