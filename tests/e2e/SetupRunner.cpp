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

bool HasIconControl(HWND box)
{
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    {
        char cls[32];
        GetClassNameA(child, cls, sizeof(cls));
        // Wine's message box always has its icon static; without an icon it holds none.
        if (lstrcmpiA(cls, "Static") == 0 && IsWindowVisible(child) &&
            (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
            SendMessageA(child, STM_GETICON, 0, 0) != 0)
            return true;
    }
    return false;
}

} // namespace

std::string BuildDir()
{
    return ProgramDir() + "..\\";
}

std::string ProductPath()
{
    return BuildDir() + "PivoraSetup.exe";
}

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
            seen.hasIcon = HasIconControl(box);
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
        if (run.onIdle)
            run.onIdle();
    }
    GetExitCodeProcess(pi.hProcess, &result.exitCode);
    CloseHandle(pi.hProcess);
    return result;
}

namespace {

HKEY OpenKey(const char* key, REGSAM access, bool create)
{
    // The hand-off values live in the 32-bit view, whichever flavour runs.
    access |= KEY_WOW64_32KEY;
    HKEY handle = NULL;
    LONG rc = create ? RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, NULL, 0, access, NULL, &handle,
                                       NULL)
                     : RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, access, &handle);
    return rc == ERROR_SUCCESS ? handle : NULL;
}

} // namespace

bool ReadDwordValue(const char* key, const char* name, DWORD* value)
{
    HKEY handle = OpenKey(key, KEY_READ, false);
    if (!handle)
        return false;
    DWORD size = sizeof(*value), type = 0;
    bool ok = RegQueryValueExA(handle, name, NULL, &type, reinterpret_cast<BYTE*>(value), &size) ==
                  ERROR_SUCCESS && type == REG_DWORD;
    RegCloseKey(handle);
    return ok;
}

bool ReadStringValue(const char* key, const char* name, std::string* value)
{
    HKEY handle = OpenKey(key, KEY_READ, false);
    if (!handle)
        return false;
    char buffer[2048] = {};
    DWORD size = sizeof(buffer) - 1, type = 0;
    bool ok = RegQueryValueExA(handle, name, NULL, &type, reinterpret_cast<BYTE*>(buffer),
                               &size) == ERROR_SUCCESS && type == REG_SZ;
    RegCloseKey(handle);
    if (ok)
        *value = buffer;
    return ok;
}

void SetDwordValue(const char* key, const char* name, DWORD value)
{
    if (HKEY handle = OpenKey(key, KEY_WRITE, true))
    {
        RegSetValueExA(handle, name, 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), sizeof(value));
        RegCloseKey(handle);
    }
}

void SetStringValue(const char* key, const char* name, const char* value)
{
    if (HKEY handle = OpenKey(key, KEY_WRITE, true))
    {
        RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                       lstrlenA(value) + 1);
        RegCloseKey(handle);
    }
}

void DeleteValue(const char* key, const char* name)
{
    if (HKEY handle = OpenKey(key, KEY_WRITE, false))
    {
        RegDeleteValueA(handle, name);
        RegCloseKey(handle);
    }
}

bool ValueExists(const char* key, const char* name)
{
    HKEY handle = OpenKey(key, KEY_READ, false);
    if (!handle)
        return false;
    bool exists = RegQueryValueExA(handle, name, NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
    RegCloseKey(handle);
    return exists;
}

CFolderWatch::CFolderWatch(const std::string& folder)
    : m_hDir(CreateFileA(folder.c_str(), FILE_LIST_DIRECTORY,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, NULL)),
      m_hStop(CreateEventA(NULL, TRUE, FALSE, NULL)),
      m_hThread(NULL)
{
    if (m_hDir != INVALID_HANDLE_VALUE)
        m_hThread = CreateThread(NULL, 0, ThreadProc, this, 0, NULL);
}

CFolderWatch::~CFolderWatch()
{
    Stop();
    if (m_hDir != INVALID_HANDLE_VALUE)
        CloseHandle(m_hDir);
    CloseHandle(m_hStop);
}

std::vector<std::string> CFolderWatch::Stop()
{
    if (m_hThread)
    {
        SetEvent(m_hStop);
        WaitForSingleObject(m_hThread, INFINITE);
        CloseHandle(m_hThread);
        m_hThread = NULL;
    }
    return m_Names;
}

DWORD WINAPI CFolderWatch::ThreadProc(LPVOID param)
{
    CFolderWatch* self = static_cast<CFolderWatch*>(param);
    HANDLE changed = CreateEventA(NULL, TRUE, FALSE, NULL);
    alignas(DWORD) BYTE buffer[16384];
    for (;;)
    {
        OVERLAPPED ov = {};
        ov.hEvent = changed;
        ResetEvent(changed);
        if (!ReadDirectoryChangesW(self->m_hDir, buffer, sizeof(buffer), FALSE,
                                   FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME, NULL,
                                   &ov, NULL))
            break;
        HANDLE handles[2] = {changed, self->m_hStop};
        if (WaitForMultipleObjects(2, handles, FALSE, INFINITE) != WAIT_OBJECT_0)
        {
            CancelIo(self->m_hDir);
            break;
        }
        DWORD bytes = 0;
        if (!GetOverlappedResult(self->m_hDir, &ov, &bytes, FALSE) || bytes == 0)
            continue;
        for (BYTE* p = buffer;;)
        {
            FILE_NOTIFY_INFORMATION* info = reinterpret_cast<FILE_NOTIFY_INFORMATION*>(p);
            if (info->Action == FILE_ACTION_ADDED)
            {
                char name[MAX_PATH] = {};
                WideCharToMultiByte(CP_ACP, 0, info->FileName,
                                    (int)(info->FileNameLength / sizeof(WCHAR)), name,
                                    sizeof(name) - 1, NULL, NULL);
                self->m_Names.push_back(name);
            }
            if (!info->NextEntryOffset)
                break;
            p += info->NextEntryOffset;
        }
    }
    CloseHandle(changed);
    return 0;
}
