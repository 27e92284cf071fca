#include "base/Text.h"
#include "base/CodePage.h"
#include <new>
#include <stdarg.h>
#include <string.h>

// ---------------------------------------------------------------------------------------------
// CStorage

CStorage::CStorage()
{
    CStorage::Init();
}

CStorage::~CStorage()
{
    CStorage::FreeBlock();
}

HRESULT CStorage::Init()
{
    m_pBlock = NULL;
    m_pData = NULL;
    m_nCapacity = 0;
    m_nSize = 0;
    m_nGrowBy = 1;
    m_nAlign = 4;
    m_bFastCopy = false;
    m_bPages = false;
    return S_OK;
}

static void* ObtainBlock(ULONGLONG size, bool pages)
{
    // The heap takes a 32-bit size: a request that does not fit is a failed allocation, never a
    // smaller block under a large capacity.
    if (size == 0 || size > (ULONGLONG)(SIZE_T)-1)
        return NULL;
    if (pages)
        return VirtualAlloc(NULL, (SIZE_T)size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    return HeapAlloc(GetProcessHeap(), 0, (SIZE_T)size);
}

static void ReleaseBlock(void* block, bool pages)
{
    if (pages)
        VirtualFree(block, 0, MEM_RELEASE);
    else
        HeapFree(GetProcessHeap(), 0, block);
}

HRESULT CStorage::FreeBlock()
{
    if (m_pBlock)
    {
        ReleaseBlock(m_pBlock, m_bPages);
        m_pBlock = NULL;
        m_pData = NULL;
    }
    return S_OK;
}

HRESULT CStorage::CopyBytes(void* destination, const void* source, LONGLONG count)
{
    DWORD nCount = (DWORD)count;
    BYTE* pTo = static_cast<BYTE*>(destination);
    const BYTE* pFrom = static_cast<const BYTE*>(source);
    if (m_bFastCopy)
    {
        for (DWORD nBlocks = nCount / 64; nBlocks; nBlocks--)
        {
            for (int i = 0; i < 8; i++)
            {
                ULONGLONG qw;
                memcpy(&qw, pFrom + i * 8, 8);
                memcpy(pTo + i * 8, &qw, 8);
            }
            pTo += 64;
            pFrom += 64;
        }
        nCount %= 64;
    }
    while (nCount--)
        *pTo++ = *pFrom++;
    return S_OK;
}

HRESULT CStorage::Resize(LONGLONG size, bool zeroFill, bool keep)
{
    if (size <= m_nCapacity)
    {
        if (!m_pBlock)
            return E_UNEXPECTED;
        if (!keep && zeroFill && size > 0)
            memset(m_pData, 0, (size_t)size);
        m_nSize = size;
        return S_FALSE;
    }

    ULONGLONG nGrowBy = m_nGrowBy > 0 ? (ULONGLONG)m_nGrowBy : 1;
    ULONGLONG nAlign = m_nAlign > 0 ? (ULONGLONG)m_nAlign : 1;
    ULONGLONG nRounded = (ULONGLONG)size / nGrowBy;
    if ((ULONGLONG)size % nGrowBy)
        nRounded++;
    if (nRounded > ~0ULL / nGrowBy)
        return E_OUTOFMEMORY;
    nRounded *= nGrowBy;
    ULONGLONG nBlockSize = nRounded + nAlign - 1;
    if (nBlockSize < nRounded || (LONGLONG)nBlockSize < 0)
        return E_OUTOFMEMORY;

    // The capacity counts the alignment slack, and a request up to the capacity is served in
    // place; the block gets that slack once more so that every byte of the capacity past
    // m_pData really belongs to it.
    void* pBlock = ObtainBlock(nBlockSize + nAlign - 1, m_bPages);
    if (!pBlock)
        return E_OUTOFMEMORY;
    BYTE* pData = (BYTE*)(((ULONG_PTR)pBlock + (ULONG_PTR)(nAlign - 1)) & ~(ULONG_PTR)(nAlign - 1));

    if (keep)
    {
        LONGLONG nCopied = 0;
        if (m_pBlock && m_nCapacity > 0)
        {
            CopyBytes(pData, m_pData, m_nCapacity);
            nCopied = m_nCapacity;
        }
        if (zeroFill)
            memset(pData + nCopied, 0, (size_t)(nBlockSize - nCopied));
    }
    else if (zeroFill)
        memset(pData, 0, (size_t)nBlockSize);

    if (m_pBlock)
        ReleaseBlock(m_pBlock, m_bPages);
    m_pBlock = pBlock;
    m_pData = pData;
    m_nCapacity = (LONGLONG)nBlockSize;
    m_nSize = size;
    return S_OK;
}

HRESULT CStorage::SetBytes(LONGLONG count, const void* source)
{
    if (!source || count < 0)
        return E_INVALIDARG;
    HRESULT hr = Resize(count, false, false);
    if (hr >= 0)
        hr = CopyBytes(m_pData, source, count);
    m_nSize = count;
    return hr;
}

HRESULT CStorage::WriteAt(LONGLONG offset, LONGLONG count, const void* source)
{
    // The end of the write must be a number: a sum past the largest size would wrap to a
    // negative size, which the held block "holds", and the copy would land outside it.
    if (!source || offset < 0 || count < 0 || count > MAXLONGLONG - offset)
        return E_INVALIDARG;
    HRESULT hr = Resize(offset + count, false, true);
    if (hr >= 0)
        hr = CopyBytes(m_pData + offset, source, count);
    m_nSize = offset + count;
    return hr;
}

HRESULT CStorage::ReadInto(void* destination, LONGLONG count)
{
    LONGLONG nCount = (count > 0 && count < m_nCapacity) ? count : m_nCapacity;
    if (destination && m_pData && nCount > 0)
        return CopyBytes(destination, m_pData, nCount);
    return E_FAIL;
}

HRESULT CStorage::Reset()
{
    FreeBlock();
    m_nCapacity = 0;
    m_nSize = 0;
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Double-byte aware helpers shared by the text operations.

static const LONGLONG kTextGrowBy = 256;
static const LONG kTextAlign = 4;
static const int kTokenLimit = 1024;
// A field is cut once 1,024 bytes are in the buffer; the unit that crosses that mark may be a
// double-byte character started at byte 1,023, so the buffer needs 1,025 bytes plus the NUL.
static const int kTokenRoom = kTokenLimit + 2;

static inline bool IsPairAt(const char* p)
{
    return IsDoubleBytePair((unsigned char)p[0], (unsigned char)p[1]);
}

// Copies at most len bytes of source, whole characters only; stops at the source's terminator.
// Returns the number of bytes copied; writes no terminator.
static int CopyUnits(char* destination, const char* source, int len)
{
    int i = 0;
    while (i < len && source[i])
    {
        if (IsPairAt(source + i))
        {
            if (i + 1 >= len)
                break;
            destination[i] = source[i];
            destination[i + 1] = source[i + 1];
            i += 2;
        }
        else
        {
            destination[i] = source[i];
            i++;
        }
    }
    return i;
}

static bool EndsWithBackslash(const char* text, int len)
{
    return len > 0 && text[len - 1] == '\\' && !IsTrailByteAt(text, len - 1);
}

static bool EndsWithLoneLeadByte(const char* text, int len)
{
    return len > 0 && IsLeadByte((unsigned char)text[len - 1]) && !IsTrailByteAt(text, len - 1);
}

char* AddBackslashTo(char* buffer, int size)
{
    if (!buffer)
        return NULL;
    int len = (int)strlen(buffer);
    if (len == 0)
        return NULL;
    if (EndsWithBackslash(buffer, len))
        return buffer;
    // A lone lead byte at the end is no character of its own; the backslash takes its place,
    // as an appended text would.
    if (EndsWithLoneLeadByte(buffer, len))
    {
        buffer[len - 1] = '\\';
        return buffer;
    }
    if (len + 2 > size)
        return NULL;
    buffer[len] = '\\';
    buffer[len + 1] = '\0';
    return buffer;
}

char* RemoveBackslashFrom(char* buffer)
{
    if (!buffer)
        return NULL;
    int len = (int)strlen(buffer);
    if (EndsWithBackslash(buffer, len))
        buffer[len - 1] = '\0';
    return buffer;
}

// ---------------------------------------------------------------------------------------------
// CText

CText::CText()
    : m_pCursor(NULL), m_pToken(NULL)
{
    m_TextStore.m_nGrowBy = kTextGrowBy;
    m_TextStore.m_nAlign = kTextAlign;
    m_ScratchStore.m_nGrowBy = kTextGrowBy;
    m_ScratchStore.m_nAlign = kTextAlign;
    OnInit();
}

CText::CText(const char* text, int length)
    : CText()
{
    Assign(text, length);
}

CText::CText(const CText& other)
    : CText()
{
    Assign(other.GetText(), -1);
}

CText& CText::operator=(const CText& other)
{
    return Assign(other);
}

CText::~CText()
{
    OnExit();
    m_ScratchStore.FreeBlock();
    m_TextStore.FreeBlock();
}

int CText::OnInit()
{
    return 0;
}

int CText::OnExit()
{
    return 0;
}

int CText::GetLength() const
{
    const char* text = GetText();
    return text ? (int)strlen(text) : 0;
}

// Resizes the text block. When the block moves, a tokenizer cursor into the old block follows
// the kept content, or is dropped when nothing was kept: it must never point into freed memory.
HRESULT CText::ResizeText(LONGLONG size, bool keep)
{
    char* pOld = GetText();
    HRESULT hr = m_TextStore.Resize(size, false, keep);
    if (hr >= 0 && m_pCursor && pOld && GetText() != pOld)
        m_pCursor = keep ? GetText() + (m_pCursor - pOld) : NULL;
    return hr;
}

// A source inside our own block may be freed or overwritten by the operation: such a source is
// copied aside first. Returns the source to use, or null when the copy could not be had.
static const char* SafeSource(const CStorage& store, const char* source, int len, char** copy)
{
    *copy = NULL;
    const char* pBegin = reinterpret_cast<const char*>(store.m_pData);
    if (!pBegin || source < pBegin || source >= pBegin + store.m_nCapacity)
        return source;
    size_t nAvailable = (size_t)(pBegin + store.m_nCapacity - source);
    size_t n = strnlen(source, (size_t)len < nAvailable ? (size_t)len : nAvailable);
    *copy = new (std::nothrow) char[n + 1];
    if (!*copy)
        return NULL;
    memcpy(*copy, source, n);
    (*copy)[n] = '\0';
    return *copy;
}

char* CText::Assign(const char* text, int length)
{
    if (!text)
        length = 0;
    else if (length < 0)
        length = (int)strlen(text);

    char* pCopy = NULL;
    if (text)
    {
        text = SafeSource(m_TextStore, text, length, &pCopy);
        if (!text)
            return NULL;
    }
    if (ResizeText((LONGLONG)length + 1, true) < 0)
    {
        delete[] pCopy;
        return NULL;
    }
    char* pText = GetText();
    int nCopied = text ? CopyUnits(pText, text, length) : 0;
    memset(pText + nCopied, 0, (size_t)(length - nCopied) + 1);
    delete[] pCopy;
    return pText;
}

CText& CText::Assign(const CText& other)
{
    if (&other != this)
        Assign(other.GetText(), -1);
    return *this;
}

char* CText::Append(const char* text, int length)
{
    if (!text)
        return GetText();
    int nCurrent = GetLength();
    if (nCurrent == 0)
        return Assign(text, length);
    if (length <= 0)
        length = (int)strlen(text);

    char* pCopy = NULL;
    text = SafeSource(m_TextStore, text, length, &pCopy);
    if (!text)
        return GetText();
    if (ResizeText((LONGLONG)nCurrent + length + 1, true) < 0)
    {
        delete[] pCopy;
        return GetText();
    }
    char* pText = GetText();
    int nStart = EndsWithLoneLeadByte(pText, nCurrent) ? nCurrent - 1 : nCurrent;
    int nCopied = CopyUnits(pText + nStart, text, length);
    pText[nStart + nCopied] = '\0';
    delete[] pCopy;
    return pText;
}

char* CText::Format(const char* format, ...)
{
    if (!format)
        return NULL;
    // Formatting into a buffer of our own first lets an argument (or the format) be this very
    // text, and leaves the text as it was when no block can be had.
    char szBuffer[kFormatLimit + 1];
    va_list args;
    va_start(args, format);
    FormatLimited(szBuffer, format, args);
    va_end(args);

    if (ResizeText((LONGLONG)strlen(format) + kFormatLimit + 1, false) < 0)
        return NULL;
    char* pText = GetText();
    memcpy(pText, szBuffer, strlen(szBuffer) + 1);
    return pText;
}

void FormatLimited(char* buffer, const char* format, va_list args)
{
    wvsprintfA(buffer, format, args);
    buffer[kFormatLimit - 1] = '\0';
}

bool CText::AppendWhole(const char* text)
{
    const int before = GetLength();
    const int length = text ? (int)strlen(text) : 0;
    Append(text, -1);
    return GetText() && GetLength() == before + length;
}

char* CText::LoadResourceText(HINSTANCE module, UINT id)
{
    if (ResizeText(kFormatLimit, false) < 0)
        return NULL;
    char* pText = GetText();
    pText[0] = '\0';
    LoadStringA(module, id, pText, kFormatLimit);
    return pText;
}

char* CText::ScratchCopy()
{
    int len = GetLength();
    if (m_ScratchStore.Resize((LONGLONG)len + 1, false, false) < 0)
        return NULL;
    char* pScratch = reinterpret_cast<char*>(m_ScratchStore.m_pData);
    if (m_pToken)
        m_pToken = pScratch;
    if (len)
        memcpy(pScratch, GetText(), (size_t)len);
    pScratch[len] = '\0';
    return pScratch;
}

static inline bool IsDelimiter(char c, const char* delimiters)
{
    return c != '\0' && strchr(delimiters, c) != NULL;
}

char* CText::Tokenize(const char* delimiters, int index)
{
    char* pText = GetText();
    if (!pText || !*pText)
        return NULL;

    if (!m_pToken)
    {
        if (m_ScratchStore.Resize(kTokenRoom, false, false) < 0)
            return NULL;
        m_pToken = reinterpret_cast<char*>(m_ScratchStore.m_pData);
        m_pToken[0] = '\0';
    }
    else
    {
        // The scratch copy may have moved the block; the token buffer is its start.
        if (m_ScratchStore.Resize(kTokenRoom, false, false) < 0)
            return NULL;
        m_pToken = reinterpret_cast<char*>(m_ScratchStore.m_pData);
    }

    if (index > 0)
        m_pCursor = pText;
    if (!delimiters)
    {
        m_pCursor = pText;
        return NULL;
    }
    if (!m_pCursor || !*m_pCursor)
        return NULL;

    const char* p = m_pCursor;
    for (int nSkip = index > 0 ? index - 1 : 0; nSkip > 0; nSkip--)
    {
        while (*p && !IsDelimiter(*p, delimiters))
            p += IsPairAt(p) ? 2 : 1;
        if (!*p)
        {
            // Fewer fields than asked for.
            m_pCursor = NULL;
            m_pToken[0] = '\0';
            return m_pToken;
        }
        p++;
    }

    int n = 0;
    for (;;)
    {
        if (!*p)
        {
            m_pCursor = NULL;
            break;
        }
        bool bPair = IsPairAt(p);
        if (!bPair && IsDelimiter(*p, delimiters))
        {
            m_pCursor = const_cast<char*>(p + 1);
            break;
        }
        if (n >= kTokenLimit)
        {
            // Cut field: the next continuing call goes on with the rest of it.
            m_pCursor = const_cast<char*>(p);
            break;
        }
        m_pToken[n++] = *p++;
        if (bPair)
            m_pToken[n++] = *p++;
    }
    m_pToken[n] = '\0';
    return m_pToken;
}

char* CText::AddBackslash()
{
    char* pText = GetText();
    int len = GetLength();
    if (len == 0)
        return NULL;
    if (EndsWithBackslash(pText, len))
        return pText;
    return Append("\\", 1);
}

char* CText::RemoveBackslash()
{
    return RemoveBackslashFrom(GetText());
}

// ---------------------------------------------------------------------------------------------
// Path splitting

namespace
{
const int kPartLimit = 255;

struct PathParts
{
    char szDrive[3];
    char szDir[kPartLimit + 1];
    char szName[kPartLimit + 1];
    char szExt[kPartLimit + 1];
};

// Copies the bytes [begin, end) into a part, whole characters only, at most 255 bytes.
void CopyPart(char* part, const char* begin, const char* end)
{
    int n = 0;
    const char* p = begin;
    while (p < end)
    {
        int nUnit = (p + 1 < end && IsPairAt(p)) ? 2 : 1;
        if (n + nUnit > kPartLimit)
            break;
        while (nUnit--)
            part[n++] = *p++;
    }
    part[n] = '\0';
}

void SplitParts(const char* path, PathParts* parts)
{
    const char* p = path;
    parts->szDrive[0] = '\0';
    if (p[0] && p[1] == ':' && !IsPairAt(p))
    {
        parts->szDrive[0] = p[0];
        parts->szDrive[1] = ':';
        parts->szDrive[2] = '\0';
        p += 2;
    }
    const char* pDirEnd = p;        // just after the last separator
    const char* pDot = NULL;        // the last dot after that separator
    const char* q = p;
    while (*q)
    {
        if (IsPairAt(q))
        {
            q += 2;
            continue;
        }
        if (*q == '\\' || *q == '/')
        {
            pDirEnd = q + 1;
            pDot = NULL;
        }
        else if (*q == '.')
            pDot = q;
        q++;
    }
    const char* pEnd = q;
    const char* pNameEnd = pDot ? pDot : pEnd;
    CopyPart(parts->szDir, p, pDirEnd);
    CopyPart(parts->szName, pDirEnd, pNameEnd);
    CopyPart(parts->szExt, pNameEnd, pEnd);
}

// Drive and directory joined, with a separator after a directory that lacks one.
bool JoinParts(const PathParts& parts, char* buffer, int size)
{
    char szJoined[1024];
    int n = 0;
    if (parts.szDrive[0])
    {
        szJoined[n++] = parts.szDrive[0];
        szJoined[n++] = ':';
    }
    int nDir = (int)strlen(parts.szDir);
    memcpy(szJoined + n, parts.szDir, (size_t)nDir);
    n += nDir;
    if (nDir > 0)
    {
        char cLast = parts.szDir[nDir - 1];
        bool bSeparator = (cLast == '\\' || cLast == '/') && !IsTrailByteAt(parts.szDir, nDir - 1);
        if (!bSeparator)
            szJoined[n++] = '\\';
    }
    szJoined[n] = '\0';
    if (!buffer || n + 1 > size)
        return false;
    memcpy(buffer, szJoined, (size_t)n + 1);
    return true;
}
}

bool JoinDriveDirectory(const char* path, char* buffer, int size)
{
    if (!path)
        return false;
    PathParts parts;
    SplitParts(path, &parts);
    return JoinParts(parts, buffer, size);
}

CText DirectoryOf(CText path)
{
    CText result;
    const char* pPath = path.GetText();
    if (!pPath)
        return result;
    PathParts parts;
    SplitParts(pPath, &parts);
    char szJoined[1024];
    if (!JoinParts(parts, szJoined, sizeof(szJoined)))
        return result;
    if (strlen(parts.szDir) > 1)
        RemoveBackslashFrom(szJoined);
    result.Assign(szJoined, -1);
    return result;
}

bool SplitPath(CText path, CText* dirOut, CText* nameOut, CText* extOut)
{
    const char* pPath = path.GetText();
    if (!pPath || !*pPath)
        return false;
    PathParts parts;
    SplitParts(pPath, &parts);
    char szJoined[1024];
    if (!JoinParts(parts, szJoined, sizeof(szJoined)))
        szJoined[0] = '\0';
    if (dirOut)
        dirOut->Assign(szJoined, -1);
    if (nameOut)
        nameOut->Assign(parts.szName, -1);
    if (extOut)
        extOut->Assign(parts.szExt, -1);
    return true;
}
