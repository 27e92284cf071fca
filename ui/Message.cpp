#include "ui/Message.h"
#include "base/Log.h"
#include "base/Module.h"
#include "resources/resource.h"

namespace {

const char* AnswerName(int answer)
{
    switch (answer)
    {
    case IDOK: return "OK";
    case IDYES: return "Yes";
    case IDNO: return "No";
    case IDCANCEL: return "Cancel";
    default: return "none";
    }
}

} // namespace

int ShowMessage(UINT textId, UINT type, HWND owner, const wchar_t* caption)
{
    wchar_t szText[1024];
    wchar_t szCaption[256];
    szText[0] = L'\0';
    szCaption[0] = L'\0';
    HINSTANCE hInstance = GetModuleInstance();
    LoadStringW(hInstance, textId, szText, sizeof(szText) / sizeof(szText[0]));
    if (!caption)
        LoadStringW(hInstance, IDS_CAPTION, szCaption, sizeof(szCaption) / sizeof(szCaption[0]));
    LogEvent("message %u shown", textId);
    const int answer = MessageBoxW(owner, szText, caption ? caption : szCaption, type);
    if (answer == 0)
        LogFailure("MessageBoxW", GetLastError(), "message %u", textId);
    else
        LogEvent("message %u answered: %s", textId, AnswerName(answer));
    return answer;
}
