#include "system/Registry.h"

namespace {

void CopyDefault(char* buffer, const char* defaultText)
{
    lstrcpynA(buffer, defaultText ? defaultText : "", REG_STRING_BUFFER);
}

} // namespace

void RegReadString(HKEY root, const char* subKey, const char* name, const char* defaultText,
                   char* buffer)
{
    HKEY key;
    if (RegOpenKeyExA(root, subKey, 0, KEY_READ | kRegistryView, &key) != ERROR_SUCCESS)
    {
        CopyDefault(buffer, defaultText);
        return;
    }
    // 255 bytes are offered, so that a value stored without its terminator can still be ended
    // inside the buffer.
    DWORD size = REG_STRING_BUFFER - 1;
    if (RegQueryValueExA(key, name, NULL, NULL, reinterpret_cast<BYTE*>(buffer), &size) !=
        ERROR_SUCCESS)
        CopyDefault(buffer, defaultText);
    else if (size == 0 || buffer[size - 1] != '\0')
        buffer[size] = '\0';
    RegCloseKey(key);
}

int RegReadDword(HKEY root, const char* subKey, const char* name, DWORD* value, DWORD defaultValue)
{
    HKEY key;
    if (RegOpenKeyExA(root, subKey, 0, KEY_READ | kRegistryView, &key) != ERROR_SUCCESS)
    {
        *value = defaultValue;
        return 0;
    }
    BYTE data[256];
    DWORD size = sizeof(data);
    int read = RegQueryValueExA(key, name, NULL, NULL, data, &size) == ERROR_SUCCESS &&
               size >= sizeof(DWORD);
    if (read)
        CopyMemory(value, data, sizeof(DWORD));
    else
        *value = defaultValue;
    RegCloseKey(key);
    return read;
}

namespace {

int WriteValue(HKEY root, const char* subKey, const char* name, DWORD type, const void* data,
               DWORD size)
{
    HKEY key;
    if (RegCreateKeyExA(root, subKey, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_WRITE | kRegistryView, NULL, &key,
                        NULL) != ERROR_SUCCESS)
        return 0;
    RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
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
    HKEY key;
    if (RegOpenKeyExA(m_Root, m_SubKey, 0, KEY_WRITE | kRegistryView, &key) != ERROR_SUCCESS)
        return 0;
    int deleted = RegDeleteValueA(key, name) == ERROR_SUCCESS;
    RegCloseKey(key);
    return deleted;
}

CText& CRegistryKey::ReadString(CText& out, const char* name, const char* defaultText)
{
    RegReadString(m_Root, m_SubKey, name, defaultText, m_ValueBuffer);
    out.Assign(m_ValueBuffer);
    return out;
}
