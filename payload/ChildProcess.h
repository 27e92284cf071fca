// Child programs: the inner installer, the Windows Media Format redistributable, and any
// command line that the run has to start and wait for.
#pragma once
#include <windows.h>

// The longest name of the files that RunInnerInstaller and RunWmfDist write into the work
// directory ("PivoraSetup_IS.bin"); the run makes sure the work directory has room for it.
const int kLongestWorkFileName = 18;

// Starts program with commandLine (it may be changed in place by the system), the environment
// block environment (UTF-16; null: the run's own) and currentDirectory (null: the run's), and
// waits for its end without a time-out. True when it was started and has ended, whatever its
// exit code.
bool RunAndWait(const char* program, char* commandLine, const wchar_t* environment,
                const char* currentDirectory);

// How a step that writes a payload into the work directory and runs it ended.
enum PayloadStep
{
    PayloadStepRan,       // the program was started and has ended
    PayloadStepFailed,    // the payload could not be written (damaged, a file not made) or started
    PayloadStepNoSpace,   // the work directory's drive filled up while the payload was written
};

// Unpacks the payload archive into workDir (ending with a backslash), starts its setup.exe with
// the environment block environment (as RunAndWait) in workDir, brings the installer's window to
// the front once it shows, hides a visible waitWindow (may be null) while the installer runs, and
// deletes setup.exe afterwards.
PayloadStep RunInnerInstaller(const char* workDir, HWND waitWindow, const wchar_t* environment);

// Unpacks wmfdist.exe into workDir (ending with a backslash), runs it quietly with the
// environment block environment in workDir, and deletes it, also when it could not be started.
PayloadStep RunWmfDist(const char* workDir, const wchar_t* environment);

// Makes window, usually one of another process, the foreground window. False when the thread
// of the current foreground window or of window cannot be found.
bool BringToForeground(HWND window);
