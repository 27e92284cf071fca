#include "setup/Options.h"
#include "base/CodePage.h"

CSetupOptions::CSetupOptions(const char* commandLine)
    : m_CommandLine(commandLine),
      m_RunningAsSetupMgr(false),
      m_Silent(false),
      m_NoWaitDlg(false),
      m_LaunchDX9(false)
{
}

bool CSetupOptions::Parse()
{
    // With no arguments nothing is parsed, although the process command line still holds the
    // program path.
    if (m_CommandLine.IsEmpty())
        return false;
    ParseLine(GetCommandLineA());
    return true;
}

void CSetupOptions::ParseLine(const char* processCommandLine)
{
    COwnerNodeList<CText> tokens;
    if (!SplitCommandLine(&tokens, processCommandLine))
        return;
    for (CNode* node = tokens.GetHeadNode(); node; node = node->pNext)
    {
        const char* token = static_cast<CText*>(node->pData)->GetText();
        if (!token || (token[0] != '/' && token[0] != '-'))
            continue;
        while (*token == '/' || *token == '-')
            ++token;
        if (SameSwitchName(token, "RunningAsSetupMgr"))
            m_RunningAsSetupMgr = true;
        if (SameSwitchName(token, "Silent"))
            m_Silent = true;
        if (SameSwitchName(token, "NoWaitDlg"))
            m_NoWaitDlg = true;
        if (SameSwitchName(token, "LaunchDX9"))
            m_LaunchDX9 = true;
    }
}

bool SplitCommandLine(COwnerNodeList<CText>* tokens, const char* text)
{
    if (!tokens || !text)
        return false;
    const char* pos = text;
    for (;;)
    {
        // The element comes first, so every extra blank gives an empty one.
        CText* element = tokens->AddNewTail(true);
        if (!element)
            return false;
        const char* begin = pos;
        const char* end;
        if (*pos == '"')
        {
            begin = pos + 1;
            end = begin;
            while (*end && *end != '"')
                ++end;
        }
        else
        {
            end = begin;
            while (*end && *end != ' ')
                ++end;
        }
        if (end > begin)
            element->Assign(begin, static_cast<int>(end - begin));
        if (!*end)
            return true;
        pos = end + 1;
    }
}

bool SameSwitchName(const char* a, const char* b)
{
    for (;;)
    {
        unsigned char ca = static_cast<unsigned char>(*a);
        unsigned char cb = static_cast<unsigned char>(*b);
        bool wideA = ca && IsDoubleBytePair(ca, static_cast<unsigned char>(a[1]));
        bool wideB = cb && IsDoubleBytePair(cb, static_cast<unsigned char>(b[1]));
        if (wideA || wideB)
        {
            if (!(wideA && wideB) || ca != cb || a[1] != b[1])
                return false;
            a += 2;
            b += 2;
            continue;
        }
        if (ca >= 'A' && ca <= 'Z')
            ca = static_cast<unsigned char>(ca - 'A' + 'a');
        if (cb >= 'A' && cb <= 'Z')
            cb = static_cast<unsigned char>(cb - 'A' + 'a');
        if (ca != cb)
            return false;
        if (!ca)
            return true;
        ++a;
        ++b;
    }
}
