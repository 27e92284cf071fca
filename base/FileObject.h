// CFileObject: file access by handle with result codes, and a line reader.
#pragma once
#include <windows.h>
#include "base/Text.h"

const HRESULT HR_END_OF_FILE = (HRESULT)0x80070026;

class CFileObject
{
public:
    CFileObject();
    ~CFileObject();
    CFileObject(const CFileObject&) = delete;
    CFileObject& operator=(const CFileObject&) = delete;

    HRESULT Clear();
    HRESULT Open(const char* name, DWORD disposition, DWORD access, DWORD shareMode,
                 DWORD flags, LPSECURITY_ATTRIBUTES security);
    HRESULT Close();
    HRESULT Read(void* buffer, DWORD count, DWORD* read = NULL, LPOVERLAPPED overlapped = NULL);
    HRESULT Write(const void* buffer, DWORD count, DWORD* written = NULL,
                  LPOVERLAPPED overlapped = NULL);
    HRESULT WriteText(const char* text);
    HRESULT WriteFormatted(const char* format, ...);
    HRESULT Seek(LONGLONG distance, LONGLONG* newPosition, DWORD moveMethod);
    HRESULT ReadLine(char* buffer, DWORD size, DWORD* count = NULL);
    bool IsOpen() const { return m_hFile != INVALID_HANDLE_VALUE; }

    HANDLE m_hFile;
    DWORD m_dwRead;
    DWORD m_dwWritten;
    CText m_strName;
};
