#include "base/FileObject.h"
#include "base/Module.h"
#include <stdarg.h>
#include <string.h>

static const HRESULT HR_NOT_OPEN = S_FALSE;

CFileObject::CFileObject()
    : m_hFile(INVALID_HANDLE_VALUE), m_dwRead(0), m_dwWritten(0)
{
    Clear();
}

CFileObject::~CFileObject()
{
    Close();
}

HRESULT CFileObject::Clear()
{
    Close();
    m_dwWritten = 0;
    m_dwRead = 0;
    if (m_strName.GetText())
        m_strName.GetText()[0] = '\0';
    return S_OK;
}

HRESULT CFileObject::Open(const char* name, DWORD disposition, DWORD access, DWORD shareMode,
                          DWORD flags, LPSECURITY_ATTRIBUTES security)
{
    Clear();
    m_strName.Assign(name, -1);
    m_hFile = CreateFileA(name, access, shareMode, security, disposition, flags, NULL);
    if (m_hFile == INVALID_HANDLE_VALUE)
        return HResultFromFailure();
    return S_OK;
}

HRESULT CFileObject::Close()
{
    if (!IsOpen())
        return HR_NOT_OPEN;
    if (!CloseHandle(m_hFile))
        return HResultFromFailure();
    m_hFile = INVALID_HANDLE_VALUE;
    return S_OK;
}

HRESULT CFileObject::Read(void* buffer, DWORD count, DWORD* read, LPOVERLAPPED overlapped)
{
    if (!IsOpen())
        return HR_NOT_OPEN;
    if (!ReadFile(m_hFile, buffer, count, &m_dwRead, overlapped))
        return HResultFromFailure();
    // The caller's count is kept in step at the end of the file too, so that it never holds a
    // stale number.
    if (read)
        *read = m_dwRead;
    if (count != 0 && m_dwRead == 0)
        return HR_END_OF_FILE;
    return S_OK;
}

HRESULT CFileObject::Write(const void* buffer, DWORD count, DWORD* written, LPOVERLAPPED overlapped)
{
    if (!IsOpen())
        return HR_NOT_OPEN;
    if (!WriteFile(m_hFile, buffer, count, &m_dwWritten, overlapped))
        return HResultFromFailure();
    if (written)
        *written = m_dwWritten;
    return S_OK;
}

HRESULT CFileObject::WriteText(const char* text)
{
    if (!IsOpen())
        return HR_NOT_OPEN;
    if (!text)
        text = "";
    if (!WriteFile(m_hFile, text, (DWORD)strlen(text), &m_dwWritten, NULL))
        return HResultFromFailure();
    return S_OK;
}

HRESULT CFileObject::WriteFormatted(const char* format, ...)
{
    if (!IsOpen())
        return HR_NOT_OPEN;
    if (!format)
        return E_INVALIDARG;
    char szBuffer[kFormatLimit + 1];
    va_list args;
    va_start(args, format);
    FormatLimited(szBuffer, format, args);
    va_end(args);
    return WriteText(szBuffer);
}

HRESULT CFileObject::Seek(LONGLONG distance, LONGLONG* newPosition, DWORD moveMethod)
{
    if (!IsOpen())
        return HR_NOT_OPEN;
    LARGE_INTEGER liDistance;
    LARGE_INTEGER liPosition;
    liDistance.QuadPart = distance;
    liPosition.QuadPart = 0;
    if (!SetFilePointerEx(m_hFile, liDistance, &liPosition, moveMethod))
        return HResultFromFailure();
    if (newPosition)
        *newPosition = liPosition.QuadPart;
    return S_OK;
}

// One byte per ReadFile, so that the file position stays exactly behind the line end that was
// consumed: the profile reader relies on it.
HRESULT CFileObject::ReadLine(char* buffer, DWORD size, DWORD* count)
{
    if (!IsOpen())
        return HR_NOT_OPEN;
    if (!buffer || size == 0)
        return E_INVALIDARG;

    HRESULT hr = S_OK;
    DWORD n = 0;
    while (n + 1 < size)
    {
        char c;
        DWORD dwGot = 0;
        if (!ReadFile(m_hFile, &c, 1, &dwGot, NULL))
        {
            hr = HResultFromFailure();
            break;
        }
        if (dwGot == 0)
        {
            hr = HR_END_OF_FILE;
            break;
        }
        if (c == '\0')
            break;
        if (c == '\r')
        {
            // CR LF is one line end; a lone CR leaves the byte after it for the next line.
            char cNext;
            dwGot = 0;
            if (ReadFile(m_hFile, &cNext, 1, &dwGot, NULL) && dwGot == 1 && cNext != '\n')
                Seek(-1, NULL, FILE_CURRENT);
            break;
        }
        buffer[n++] = c;
    }
    buffer[n] = '\0';
    m_dwRead = n;
    if (count)
        *count = n;
    return hr;
}
