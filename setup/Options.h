// The four switches of the command line.
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

    // The parse of a given process command line (program path included), for Parse and tests.
    void ParseLine(const char* processCommandLine);
};

// Splits a command line into tokens: quoted tokens without their quotes, others up to the next
// blank. Every extra blank yields one empty element.
bool SplitCommandLine(COwnerNodeList<CText>* tokens, const char* text);

// Case-insensitive comparison under the ANSI code page: double-byte characters compare whole,
// single-byte letters fold.
bool SameSwitchName(const char* a, const char* b);
