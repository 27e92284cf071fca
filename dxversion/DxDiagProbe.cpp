#include "dxversion/DxProbe.h"
#include "base/CodePage.h"
#include "base/ScopedHandle.h"
#include <ole2.h>
#include <oleauto.h>
#include <dxdiag.h>

namespace
{

// {A65B8071-3BFE-4213-9A5B-491DA4461CA7}, {9C6B4CB0-23F8-49CC-A3ED-45A55000A6D2}
const CLSID kClsidDxDiagProvider = {0xA65B8071, 0x3BFE, 0x4213,
                                    {0x9A, 0x5B, 0x49, 0x1D, 0xA4, 0x46, 0x1C, 0xA7}};
const IID kIidDxDiagProvider = {0x9C6B4CB0, 0x23F8, 0x49CC,
                                {0xA3, 0xED, 0x45, 0xA5, 0x50, 0x00, 0xA6, 0xD2}};

// Reads the three version properties of the DxDiag_SystemInfo container into the outputs;
// returns how many of them were read.
int ReadVersionProperties(IDxDiagContainer* systemInfo, DWORD* major, DWORD* minor, char* letter)
{
    int read = 0;
    VARIANT value;
    VariantInit(&value);

    if (SUCCEEDED(systemInfo->GetProp(L"dwDirectXVersionMajor", &value)) &&
        V_VT(&value) == VT_UI4)
    {
        *major = V_UI4(&value);
        ++read;
    }
    VariantClear(&value);

    if (SUCCEEDED(systemInfo->GetProp(L"dwDirectXVersionMinor", &value)) &&
        V_VT(&value) == VT_UI4)
    {
        *minor = V_UI4(&value);
        ++read;
    }
    VariantClear(&value);

    if (SUCCEEDED(systemInfo->GetProp(L"szDirectXVersionLetter", &value)) &&
        V_VT(&value) == VT_BSTR && V_BSTR(&value))
    {
        // A letter that does not convert, or converts to nothing or to a double-byte
        // character, is no letter: its lone first byte would leave a broken text behind.
        char converted[10] = {};
        int length = WideCharToMultiByte(CP_ACP, 0, V_BSTR(&value), -1, converted,
                                         sizeof(converted), NULL, NULL);
        unsigned char first = static_cast<unsigned char>(converted[0]);
        bool single = length > 0 && first != 0 &&
                      !IsDoubleBytePair(first, static_cast<unsigned char>(converted[1]));
        *letter = single ? converted[0] : DX_LETTER_NONE;
        ++read;
    }
    VariantClear(&value);
    return read;
}

} // namespace

HRESULT ProbeDxDiag(DWORD* major, DWORD* minor, char* letter)
{
    bool comStarted = SUCCEEDED(CoInitialize(NULL));
    int read = 0;

    // The interfaces go before COM does.
    {
        CInterface<IDxDiagProvider> provider;
        if (SUCCEEDED(CoCreateInstance(kClsidDxDiagProvider, NULL, CLSCTX_INPROC_SERVER,
                                       kIidDxDiagProvider,
                                       reinterpret_cast<void**>(provider.Receive()))) &&
            provider.IsSet())
        {
            DXDIAG_INIT_PARAMS params = {};
            params.dwSize = sizeof(params);
            params.dwDxDiagHeaderVersion = DXDIAG_DX9_SDK_VERSION;
            params.bAllowWHQLChecks = FALSE;
            params.pReserved = NULL;

            CInterface<IDxDiagContainer> root;
            CInterface<IDxDiagContainer> systemInfo;
            if (SUCCEEDED(provider->Initialize(&params)) &&
                SUCCEEDED(provider->GetRootContainer(root.Receive())) && root.IsSet() &&
                SUCCEEDED(root->GetChildContainer(L"DxDiag_SystemInfo", systemInfo.Receive())) &&
                systemInfo.IsSet())
                read = ReadVersionProperties(systemInfo.Get(), major, minor, letter);
        }
    }

    if (comStarted)
        CoUninitialize();
    return read == 3 ? S_OK : E_FAIL;
}
