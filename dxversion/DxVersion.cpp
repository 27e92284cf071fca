#include "dxversion/DxVersion.h"
#include "dxversion/DxProbe.h"
#include "base/Log.h"
#include <ctype.h>
#include <stdio.h>

void StoreDxVersion(DWORD major, DWORD minor, char letter, DWORD* version, char* text,
                    int textSize)
{
    letter = static_cast<char>(tolower(static_cast<unsigned char>(letter)));
    if (version)
    {
        DWORD letterNumber = (letter >= 'a' && letter <= 'z') ? DWORD(letter - 'a' + 1) : 0;
        *version = (major << 16) | (minor << 8) | letterNumber;
    }
    if (text && textSize > 0)
    {
        if (letter == DX_LETTER_NONE)
            _snprintf(text, textSize, "%d.%d", int(major), int(minor));
        else
            _snprintf(text, textSize, "%d.%d%c", int(major), int(minor), letter);
        // _snprintf leaves the buffer unterminated when the text does not fit.
        text[textSize - 1] = '\0';
    }
}

extern "C" HRESULT __cdecl GetDXVersion(DWORD* version, char* text, int textSize)
{
    if (version)
        *version = 0;
    if (text && textSize > 0)
        text[0] = '\0';

    DWORD major = 0, minor = 0;
    char letter = DX_LETTER_NONE;
    const char* how = "the DirectX diagnostics provider";
    const HRESULT provider = ProbeDxDiag(&major, &minor, &letter);
    if (FAILED(provider))
    {
        LogFailure("ProbeDxDiag", ErrorOfResult(provider), "DirectX: the diagnostics provider "
                   "does not answer; the system files are asked");
        how = "the versions of the system files";
        const HRESULT files = ProbeSystemFiles(&major, &minor, &letter);
        if (FAILED(files))
        {
            LogFailure("ProbeSystemFiles", ErrorOfResult(files), "DirectX: release unknown");
            return E_FAIL;
        }
    }

    char found[24];
    DWORD number = 0;
    StoreDxVersion(major, minor, letter, &number, found, sizeof(found));
    LogEvent("DirectX: release %s (0x%08lX), from %s", found, number, how);
    StoreDxVersion(major, minor, letter, version, text, textSize);
    return S_OK;
}
