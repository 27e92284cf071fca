// Drives the dialogs of another thread or process through Win32, the way a user would: find the
// window, read its texts, type into an edit control, press a button by its id. Never by screen
// coordinates.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

// The first top-level window with this title (code page 932, or null for any) and class (or null
// for any), visible or not, waiting up to timeoutMs. Null when none appeared.
HWND WaitForWindow(const char* title, const char* className, DWORD timeoutMs);

// The first visible message box (a #32770 dialog with the static 0xFFFF), waiting up to timeoutMs;
// with a process id, only one of that process.
HWND WaitForMessageBox(DWORD timeoutMs, DWORD processId = 0);
// The first visible top-level window of the process with this title (or any title when null).
HWND FindProcessWindow(DWORD processId, const char* title);
// The first visible dialog of the process that has the control; whatever its title, so that it is
// found on every ANSI code page.
HWND FindProcessDialog(DWORD processId, int controlId);

// Waits until the window is gone (or no longer visible, when untilHidden), up to timeoutMs.
bool WaitForWindowGone(HWND hwnd, DWORD timeoutMs, bool untilHidden = false);

// Texts through WM_GETTEXT, which also reads another process's edit controls.
std::string GetWindowTextOf(HWND hwnd);
std::string GetControlText(HWND dlg, int id);
std::string GetMessageBoxText(HWND box);
// The text in UTF-16, as it stands whatever the ANSI code page; and those of the visible child
// windows but edit controls, in child order.
std::wstring GetWindowTextWide(HWND hwnd);
std::vector<std::wstring> GetChildTextsWide(HWND dlg);

// The texts of the window's visible static controls and push buttons that their controls cannot
// show whole at the screen's DPI: each measured as the control draws it, wrapped at the
// control's width (a button's on one line), must fit the control. A message box's texts are
// drawn in the system's message font, a dialog's in its template's font, which for the setup's
// dialogs is 8-point "MS Shell Dlg" (a font handle of another process cannot be read).
std::vector<std::wstring> GetCutOffTexts(HWND window);

bool HasControl(HWND dlg, int id);
// The ids of the dialog's push buttons, in child order.
std::vector<int> GetButtonIds(HWND dlg);
// True when a message box shows an icon. Wine's message box always has its icon static; without
// an icon it is hidden and holds none.
bool MessageBoxHasIcon(HWND box);

void SetControlText(HWND dlg, int id, const char* text);
// Posts WM_COMMAND with BN_CLICKED for the button, as a click does.
void PressButton(HWND dlg, int id);

// A screenshot of the window as it stands on the screen, written to a PNG file, after the
// window had settleMs to paint. False when the window is gone or hidden by then.
bool SaveWindowPng(HWND hwnd, const std::string& pngPath, DWORD settleMs = 300);
// <build folder>\screenshots\<name>.png (the folder is made when missing).
std::string ScreenshotPath(const char* name);

// Writes data as the whole content of the file at path (made new or replaced).
bool WriteFileBytes(const std::string& path, const std::string& data);
// Folder of the running program, with a trailing backslash.
std::string ProgramDir();
