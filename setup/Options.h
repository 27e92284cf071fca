// The switches of the command line: the four of the run and /Log for the support log.
#pragma once
#include <windows.h>
#include "base/Text.h"
#include "base/NodeList.h"

class CSetupOptions
{
public:
    explicit CSetupOptions(const char* commandLine);
    CSetupOptions(const CSetupOptions&) = delete;
    CSetupOptions& operator=(const CSetupOptions&) = delete;

    // Looks at the whole command line of the process; false when there were no arguments.
    bool Parse();

    CText m_CommandLine;
    bool m_RunningAsSetupMgr;
    bool m_Silent;
    bool m_NoWaitDlg;
    bool m_LaunchDX9;
    // /Log or /Log=<file>: m_LogFile holds the file as given (empty for /Log alone), in UTF-16,
    // so that a path the ANSI code page cannot name still names the file the user meant.
    bool m_Log;
    wchar_t m_LogFile[MAX_PATH];

    // The parse of a given process command line (program path included), for Parse and tests.
    void ParseLine(const char* processCommandLine);
    void ParseLogSwitch(const wchar_t* processCommandLine);
};

// Splits a command line into tokens: quoted tokens without their quotes, others up to the next
// blank. Every extra blank yields one empty element.
bool SplitCommandLine(COwnerNodeList<CText>* tokens, const char* text);

// Case-insensitive comparison under the ANSI code page: double-byte characters compare whole,
// single-byte letters fold.
bool SameSwitchName(const char* a, const char* b);
