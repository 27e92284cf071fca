#include "setup/Options.h"
#include "base/CodePage.h"

namespace {

const wchar_t kLogSwitch[] = L"Log";

// One token of a command line from pos: after a double quote up to the next one, otherwise up
// to the next blank; tabs do not separate. Returns where the next token starts, or null when
// this one ended the text. The same rule for the ANSI and the UTF-16 forms of the line.
template <typename Char>
const Char* NextToken(const Char* pos, const Char** begin, const Char** end)
{
    const Char stop = *pos == '"' ? '"' : ' ';
    *begin = *pos == '"' ? pos + 1 : pos;
    *end = *begin;
    while (**end && **end != stop)
        ++*end;
    return **end ? *end + 1 : NULL;
}

// The switch name at the start of token, without case, up to its end or an "=".
bool IsLogSwitch(const wchar_t* token, const wchar_t** value)
{
    int i = 0;
    for (; kLogSwitch[i]; ++i)
    {
        wchar_t c = token[i];
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
        wchar_t expected = kLogSwitch[i];
        if (expected >= L'A' && expected <= L'Z')
            expected = static_cast<wchar_t>(expected - L'A' + L'a');
        if (c != expected)
            return false;
    }
    if (token[i] != L'\0' && token[i] != L'=')
        return false;
    *value = token[i] == L'=' ? token + i + 1 : token + i;
    return true;
}

} // namespace

CSetupOptions::CSetupOptions(const char* commandLine)
    : m_CommandLine(commandLine),
      m_RunningAsSetupMgr(false),
      m_Silent(false),
      m_NoWaitDlg(false),
      m_LaunchDX9(false),
      m_Log(false)
{
    m_LogFile[0] = L'\0';
}

bool CSetupOptions::Parse()
{
    // With no arguments nothing is parsed, although the process command line still holds the
    // program path.
    if (m_CommandLine.IsEmpty())
        return false;
    ParseLine(GetCommandLineA());
    ParseLogSwitch(GetCommandLineW());
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

// The log's file is taken from the UTF-16 line: its ANSI form has "?" or a look-alike in place of
// every character the code page lacks, and would name another file or none.
void CSetupOptions::ParseLogSwitch(const wchar_t* processCommandLine)
{
    for (const wchar_t* pos = processCommandLine; pos;)
    {
        const wchar_t* begin;
        const wchar_t* end;
        pos = NextToken(pos, &begin, &end);
        if (begin == end || (*begin != L'/' && *begin != L'-'))
            continue;
        while (begin < end && (*begin == L'/' || *begin == L'-'))
            ++begin;
        // "Log=" and a path: a longer token names no file that can be opened, and is passed by.
        wchar_t token[4 + MAX_PATH];
        const wchar_t* value;
        if (end - begin >= static_cast<int>(sizeof(token) / sizeof(token[0])))
            continue;
        lstrcpynW(token, begin, static_cast<int>(end - begin) + 1);
        if (!IsLogSwitch(token, &value))
            continue;
        m_Log = true;
        lstrcpyW(m_LogFile, value);
    }
}

bool SplitCommandLine(COwnerNodeList<CText>* tokens, const char* text)
{
    if (!tokens || !text)
        return false;
    for (const char* pos = text; pos;)
    {
        // The element comes first, so every extra blank gives an empty one.
        CText* element = tokens->AddNewTail(true);
        if (!element)
            return false;
        const char* begin;
        const char* end;
        pos = NextToken(pos, &begin, &end);
        if (end > begin)
            element->Assign(begin, static_cast<int>(end - begin));
    }
    return true;
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
