// CText, the one string type: an owned, growable, NUL-terminated byte string in the ANSI code
// page, whose bytes live in CStorage blocks. A never-assigned text has a null text pointer,
// which every operation treats as the empty text.
#pragma once
#include <windows.h>
#include <stdarg.h>

class CStorage
{
public:
    CStorage();
    virtual ~CStorage();
    CStorage(const CStorage&) = delete;
    CStorage& operator=(const CStorage&) = delete;

    virtual HRESULT Init();
    virtual HRESULT FreeBlock();
    virtual HRESULT CopyBytes(void* destination, const void* source, LONGLONG count);
    virtual HRESULT Resize(LONGLONG size, bool zeroFill, bool keep);
    virtual HRESULT SetBytes(LONGLONG count, const void* source);
    virtual HRESULT WriteAt(LONGLONG offset, LONGLONG count, const void* source);
    virtual HRESULT ReadInto(void* destination, LONGLONG count);
    virtual HRESULT Reset();

    void* m_pBlock;
    BYTE* m_pData;
    LONGLONG m_nCapacity;
    LONGLONG m_nSize;
    LONGLONG m_nGrowBy;
    LONG m_nAlign;
    bool m_bFastCopy;
    bool m_bPages;
};

class CText
{
public:
    CText();
    CText(const char* text, int length = -1);
    CText(const CText& other);
    CText& operator=(const CText& other);
    virtual ~CText();

    virtual int OnInit();
    virtual int OnExit();

    char* GetText() const { return reinterpret_cast<char*>(m_TextStore.m_pData); }
    int GetLength() const;          // bytes before the terminator; 0 for a null text
    bool IsEmpty() const { return GetLength() == 0; }

    char* Assign(const char* text, int length = -1);
    CText& Assign(const CText& other);
    char* Append(const char* text, int length = -1);
    // Appends the whole of text; false when the text could not grow to hold all of it (it is
    // then left as Append leaves it).
    bool AppendWhole(const char* text);
    char* Format(const char* format, ...);
    char* LoadResourceText(HINSTANCE module, UINT id);
    char* ScratchCopy();
    char* Tokenize(const char* delimiters, int index);
    char* AddBackslash();
    char* RemoveBackslash();

    CStorage m_TextStore;
    CStorage m_ScratchStore;
    char* m_pCursor;
    char* m_pToken;

private:
    HRESULT ResizeText(LONGLONG size, bool keep);
};

// The platform formatter writes at most this many bytes, the terminator included.
const int kFormatLimit = 1024;
// Formats with wvsprintfA into buffer, which holds kFormatLimit + 1 bytes: at most 1,023 bytes
// and the terminator, whatever the formatter made of a longer output.
void FormatLimited(char* buffer, const char* format, va_list args);

// Drive and directory of path, without the trailing backslash when the directory part is
// longer than one byte.
CText DirectoryOf(CText path);
// Splits path into drive and directory (with their trailing separator), name and extension
// (with its dot). False for a null or empty path, outputs untouched.
bool SplitPath(CText path, CText* dirOut, CText* nameOut, CText* extOut);

// Drive and directory of path joined, with the trailing separator, into buffer (the module
// directory and SplitPath's dirOut). False when path is null or buffer too small.
bool JoinDriveDirectory(const char* path, char* buffer, int size);

// The trailing-backslash rules of CText::AddBackslash and CText::RemoveBackslash for plain
// buffers, in place. AddBackslashTo returns null for a null or empty text or when the buffer
// of size bytes has no room for the backslash; both return the buffer otherwise.
char* AddBackslashTo(char* buffer, int size);
char* RemoveBackslashFrom(char* buffer);
