// Runs PivoraSetup.exe the way a user who accepts every default would, and keeps a screenshot of
// each window met on the way: the destination dialog is accepted as proposed, a dialog with a
// default button gets that button (the demo installer's Install), a message box gets No where
// it asks a question (so no restart is ever requested) and OK otherwise. The wait dialog is
// only photographed.
//   walkthrough.exe <PivoraSetup.exe> <folder for the PNG files> [switches for the setup]
#include <windows.h>
#include <stdio.h>
#include <set>
#include <string>
#include <vector>
#include "driver/DialogDriver.h"

namespace {

struct Seen
{
    HWND hwnd;
    bool visible;
};

BOOL CALLBACK Collect(HWND hwnd, LPARAM param)
{
    if (IsWindowVisible(hwnd))
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
    return TRUE;
}

std::string ClassOf(HWND hwnd)
{
    char name[64] = {};
    GetClassNameA(hwnd, name, sizeof(name));
    return name;
}

// The windows worth a picture: dialogs and other captioned top-level windows of the run.
bool IsRunWindow(HWND hwnd)
{
    LONG style = GetWindowLongA(hwnd, GWL_STYLE);
    if ((style & WS_CAPTION) != WS_CAPTION)
        return false;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    return pid != GetCurrentProcessId();
}

// Another window in front of it (the installer's window covers the wait dialog while both
// stand): its picture would show the other window.
bool IsCovered(HWND hwnd)
{
    RECT rc;
    GetWindowRect(hwnd, &rc);
    POINT center = {(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
    HWND front = WindowFromPoint(center);
    return front && GetAncestor(front, GA_ROOT) != hwnd;
}

int DefaultAnswer(HWND hwnd)
{
    if (GetDlgItem(hwnd, 0xFFFF))   // a message box
        return GetDlgItem(hwnd, IDNO) ? IDNO : IDOK;
    LRESULT def = SendMessageA(hwnd, DM_GETDEFID, 0, 0);
    if (HIWORD(def) == DC_HASDEFID && GetDlgItem(hwnd, LOWORD(def)))
        return LOWORD(def);
    return 0;   // nothing to press (the wait dialog)
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
    {
        fprintf(stderr, "usage: walkthrough <PivoraSetup.exe> <screenshot folder> [switches]\n");
        return 2;
    }
    std::string commandLine = std::string("\"") + argv[1] + "\"";
    for (int i = 3; i < argc; ++i)
        commandLine += std::string(" ") + argv[i];
    std::string folder = argv[2];
    CreateDirectoryA(folder.c_str(), NULL);

    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
    {
        fprintf(stderr, "walkthrough: cannot start %s (error %lu)\n", argv[1], GetLastError());
        return 2;
    }
    CloseHandle(pi.hThread);

    // A window is photographed each time it becomes visible and stands uncovered, and is
    // answered once. The wait dialog stands only for moments before and after the installer's
    // window, so pictures are taken as soon as a window has had a short time to paint.
    std::set<HWND> visibleBefore, answered;
    int shots = 0;
    while (WaitForSingleObject(pi.hProcess, 50) == WAIT_TIMEOUT)
    {
        std::vector<HWND> windows;
        EnumWindows(Collect, reinterpret_cast<LPARAM>(&windows));
        std::set<HWND> visibleNow;
        for (HWND hwnd : windows)
        {
            if (!IsRunWindow(hwnd))
                continue;
            if (visibleBefore.count(hwnd) || !IsWindowEnabled(hwnd))
            {
                visibleNow.insert(hwnd);
                continue;
            }
            char name[MAX_PATH];
            wsprintfA(name, "%s\\%02d-%s.png", folder.c_str(), shots + 1,
                      GetDlgItem(hwnd, 0xFFFF) ? "message" : ClassOf(hwnd) == "#32770" ? "dialog"
                                                                                         : "window");
            // Gone, or covered, before it could be photographed: tried again while it stands.
            if (IsCovered(hwnd) || !SaveWindowPng(hwnd, name, 150) || IsCovered(hwnd))
                continue;
            ++shots;
            visibleNow.insert(hwnd);
            printf("%s\n", name);
            fflush(stdout);
            int answer = answered.count(hwnd) ? 0 : DefaultAnswer(hwnd);
            if (answer)
            {
                answered.insert(hwnd);
                PressButton(hwnd, answer);
            }
        }
        visibleBefore = visibleNow;
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(pi.hProcess, &exitCode);
    CloseHandle(pi.hProcess);
    printf("exit code %ld\n", (long)exitCode);
    return 0;
}
