#include "e2e/SetupRunner.h"
#include <gtest/gtest.h>
#include <set>
#include <stdio.h>
#include "driver/DialogDriver.h"
#include "common/TestSupport.h"

namespace {

std::wstring Widen(const std::string& text)
{
    std::vector<wchar_t> wide(text.size() + 1);
    int count = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), (int)wide.size());
    return std::wstring(wide.data(), count > 0 ? count - 1 : 0);
}

// Every text of a message box or dialog that the run showed fits its control, at whatever DPI
// the session has (tools/with-wine.sh, PIVORA_DPI).
void ExpectNothingCutOff(HWND window)
{
    for (const std::wstring& text : GetCutOffTexts(window))
    {
        char utf8[1024] = "";
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, utf8, sizeof(utf8), NULL, NULL);
        ADD_FAILURE() << "cut off: " << utf8;
    }
}

// The environment of this process with the changes, as a UTF-16 block.
std::wstring EnvironmentBlock(const SetupRun& run)
{
    std::vector<std::pair<std::wstring, std::wstring>> changes;
    for (const auto& change : run.environment)
        changes.push_back({Widen(change.first), Widen(change.second)});
    for (const auto& change : run.wideEnvironment)
        changes.push_back({Widen(change.first), change.second});
    std::vector<std::wstring> entries;
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* p = block; *p; p += lstrlenW(p) + 1)
        entries.push_back(p);
    FreeEnvironmentStringsW(block);
    for (const auto& change : changes)
    {
        std::wstring prefix = change.first + L"=";
        for (auto it = entries.begin(); it != entries.end();)
            it = lstrcmpiW(it->substr(0, prefix.size()).c_str(), prefix.c_str()) == 0
                     ? entries.erase(it)
                     : it + 1;
        entries.push_back(prefix + change.second);
    }
    std::wstring out;
    for (const auto& entry : entries)
        out += entry + L'\0';
    return out + L'\0';
}

} // namespace

std::string TestProductPath()
{
    return ProgramDir() + "PivoraSetup_e2e.exe";
}

std::vector<std::string> ReadLogEvents(const std::string& path, bool withThread)
{
    std::string data;
    std::vector<std::string> events;
    if (!ReadFileBytes(path, &data))
        return events;
    if (data.compare(0, 3, "\xEF\xBB\xBF") == 0)
        data.erase(0, 3);
    for (size_t start = 0; start < data.size();)
    {
        size_t end = data.find("\r\n", start);
        std::string line = data.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? data.size() : end + 2;
        if (line.empty())
        {
            events.clear();   // a later run follows
            continue;
        }
        // "yyyy-mm-dd hh:mm:ss.mmm [thread] event"
        int y, mo, d, h, mi, sec, ms, thread, used = 0;
        if (sscanf(line.c_str(), "%4d-%2d-%2d %2d:%2d:%2d.%3d [%d] %n", &y, &mo, &d, &h, &mi, &sec, &ms,
                   &thread, &used) != 8 || used == 0 || line[10] != ' ' || line[23] != ' ')
            events.push_back("<bad line> " + line);
        else
            events.push_back(line.substr(withThread ? 24 : used));
    }
    return events;
}

RunResult RunSetup(const SetupRun& run)
{
    RunResult result;
    std::wstring exe = !run.wideExe.empty() ? run.wideExe
                                            : Widen(run.exe.empty() ? TestProductPath() : run.exe);
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!run.arguments.empty())
        commandLine += L" " + Widen(run.arguments);
    if (!run.wideArguments.empty())
        commandLine += L" " + run.wideArguments;
    std::wstring environment = EnvironmentBlock(run);

    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    if (!CreateProcessW(exe.c_str(), line.data(), NULL, NULL, FALSE, CREATE_UNICODE_ENVIRONMENT,
                        &environment[0], NULL, &si, &pi))
        return result;
    result.started = true;
    CloseHandle(pi.hThread);

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
            seen.wideText = GetWindowTextWide(GetDlgItem(box, 0xFFFF));
            seen.wideCaption = GetWindowTextWide(box);
            seen.buttons = GetButtonIds(box);
            seen.hasIcon = MessageBoxHasIcon(box);
            ExpectNothingCutOff(box);
            result.messages.push_back(seen);
            shoot(box);
            int answer = run.onMessage ? run.onMessage(seen)
                                       : (seen.buttons.empty() ? IDOK : seen.buttons[0]);
            PressButton(box, answer);
            WaitForWindowGone(box, 10000);
            continue;
        }
        // Found by its folder field, whatever the ANSI code page makes of its title.
        HWND dialog = FindProcessDialog(pi.dwProcessId, 1005);
        if (dialog && !handledDialogs.count(dialog) && IsWindowEnabled(dialog))
        {
            handledDialogs.insert(dialog);
            result.destinationShown = true;
            ExpectNothingCutOff(dialog);
            shoot(dialog);
            int button = run.onDestination ? run.onDestination(dialog) : IDOK;
            PressButton(dialog, button);
        }
        if (run.onIdle)
            run.onIdle(pi.dwProcessId);
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
