// Runs the real PivoraSetup.exe as a user would meet it, and reports what the run showed and
// left behind. Scenarios say what to answer; this file does the plumbing.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// A message box the run showed: its text, caption and push buttons.
struct SeenMessage
{
    std::string text;
    std::string caption;
    std::wstring wideText;      // the same as they stand, whatever the ANSI code page
    std::wstring wideCaption;
    std::vector<int> buttons;
    bool hasIcon = false;
};

struct SetupRun
{
    std::string exe;                 // default: the program linked with the test doubles
    std::wstring wideExe;            // instead of exe: a path the ANSI code page cannot name
    std::string arguments;           // the switches, e.g. "/Silent"
    std::wstring wideArguments;      // after them: texts the ANSI code page cannot hold
    std::vector<std::pair<std::string, std::string>> environment;   // added or replaced
    std::vector<std::pair<std::string, std::wstring>> wideEnvironment;   // the same, in UTF-16
    DWORD timeoutMs = 60000;

    // Answer to each message box (a button id); default: the first button.
    std::function<int(const SeenMessage&)> onMessage;
    // Called once for the destination dialog; returns the button to press (IDOK or IDCANCEL)
    // after it may have typed into the dialog. Default: IDOK with the proposal.
    std::function<int(HWND)> onDestination;
    // Called while the run goes on, with the run's process id, for the windows that are neither
    // a message box nor the destination dialog (the wait dialog, the inner installer's).
    std::function<void(DWORD)> onIdle;
    // Screenshot names: when set, each message box and dialog is saved as <prefix>-<n>.png.
    std::string screenshotPrefix;
};

struct RunResult
{
    bool started = false;
    bool timedOut = false;
    DWORD exitCode = 0;
    std::vector<SeenMessage> messages;
    bool destinationShown = false;
};

RunResult RunSetup(const SetupRun& run);

// The same program with the test doubles as its payload.
std::string TestProductPath();

// The events of the last run in a log that /Log wrote (the runs in one file are parted by a
// blank line), each without its time (and without its thread, unless withThread: "[id] event"),
// as UTF-8. Every line's time and thread are checked on the way: a line without them reads as
// "<bad line> ...".
std::vector<std::string> ReadLogEvents(const std::string& path, bool withThread = false);

// The hand-off values in HKLM (32-bit view, as the program sees them).
// Reads are false when the value is missing or of another type; ValueExists takes any type.
bool ReadDwordValue(const char* key, const char* name, DWORD* value);
bool ReadStringValue(const char* key, const char* name, std::string* value);
bool ValueExists(const char* key, const char* name);
void SetDwordValue(const char* key, const char* name, DWORD value);
void SetStringValue(const char* key, const char* name, const char* value);
void DeleteValue(const char* key, const char* name);
