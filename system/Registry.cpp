#include "system/Registry.h"
#include "base/Log.h"
#include "base/ScopedHandle.h"

namespace {

void CopyDefault(char* buffer, const char* defaultText)
{
    lstrcpynA(buffer, defaultText ? defaultText : "", REG_STRING_BUFFER);
}

} // namespace

void RegReadString(HKEY root, const char* subKey, const char* name, const char* defaultText,
                   char* buffer)
{
    CKeyHandle key;
    if (RegOpenKeyExA(root, subKey, 0, KEY_READ | kRegistryView, key.Receive()) != ERROR_SUCCESS)
    {
        CopyDefault(buffer, defaultText);
        return;
    }
    // 255 bytes are offered, so that a value stored without its terminator can still be ended
    // inside the buffer.
    DWORD size = REG_STRING_BUFFER - 1;
    if (RegQueryValueExA(key.Get(), name, NULL, NULL, reinterpret_cast<BYTE*>(buffer), &size) !=
        ERROR_SUCCESS)
        CopyDefault(buffer, defaultText);
    else if (size == 0 || buffer[size - 1] != '\0')
        buffer[size] = '\0';
}

int RegReadDword(HKEY root, const char* subKey, const char* name, DWORD* value, DWORD defaultValue)
{
    CKeyHandle key;
    if (RegOpenKeyExA(root, subKey, 0, KEY_READ | kRegistryView, key.Receive()) != ERROR_SUCCESS)
    {
        *value = defaultValue;
        return 0;
    }
    BYTE data[256];
    DWORD size = sizeof(data);
    int read = RegQueryValueExA(key.Get(), name, NULL, NULL, data, &size) == ERROR_SUCCESS &&
               size >= sizeof(DWORD);
    if (read)
        CopyMemory(value, data, sizeof(DWORD));
    else
        *value = defaultValue;
    return read;
}

namespace {

int WriteValue(HKEY root, const char* subKey, const char* name, DWORD type, const void* data,
               DWORD size)
{
    CKeyHandle key;
    LONG error = RegCreateKeyExA(root, subKey, 0, NULL, REG_OPTION_NON_VOLATILE,
                                 KEY_WRITE | kRegistryView, NULL, key.Receive(), NULL);
    if (error != ERROR_SUCCESS)
    {
        LogFailure("RegCreateKeyExA", error, "registry: %s not written", name);
        return 0;
    }
    error = RegSetValueExA(key.Get(), name, 0, type, static_cast<const BYTE*>(data), size);
    if (error != ERROR_SUCCESS)
        LogFailure("RegSetValueExA", error, "registry: %s not written", name);
    return 1;
}

} // namespace

int RegWriteString(HKEY root, const char* subKey, const char* name, const char* text)
{
    return WriteValue(root, subKey, name, REG_SZ, text, lstrlenA(text) + 1);
}

int RegWriteDword(HKEY root, const char* subKey, const char* name, DWORD value)
{
    return WriteValue(root, subKey, name, REG_DWORD, &value, sizeof(value));
}

CRegistryKey::CRegistryKey(HKEY root, const char* subKey)
    : m_Root(root)
{
    m_SubKey[0] = '\0';
    m_ValueBuffer[0] = '\0';
    if (subKey)
        lstrcpynA(m_SubKey, subKey, sizeof(m_SubKey));
}

int CRegistryKey::DeleteValue(const char* name)
{
    // A key or value that is not there is nothing to delete; any other refusal is told.
    CKeyHandle key;
    LONG error = RegOpenKeyExA(m_Root, m_SubKey, 0, KEY_WRITE | kRegistryView, key.Receive());
    if (error == ERROR_SUCCESS)
        error = RegDeleteValueA(key.Get(), name);
    if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND)
        LogFailure("RegDeleteValueA", error, "registry: %s not deleted", name);
    return error == ERROR_SUCCESS;
}

CText& CRegistryKey::ReadString(CText& out, const char* name, const char* defaultText)
{
    RegReadString(m_Root, m_SubKey, name, defaultText, m_ValueBuffer);
    out.Assign(m_ValueBuffer);
    return out;
}
