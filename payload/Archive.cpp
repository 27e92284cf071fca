#include "payload/Archive.h"
#include "base/CodePage.h"
#include "base/FileObject.h"
#include "base/Log.h"
#include "base/Module.h"
#include "payload/OutputFile.h"
#include "payload/Unpack.h"
#include <new>
#include <string.h>

namespace
{
const DWORD kFileHeaderSize = 24;
const DWORD kMagicOffset = 8;
const BYTE kMagic[4] = {'P', 'K', '2', '4'};
const DWORD kEntryHeaderSize = 284;
const DWORD kNameOffset = 20;
const DWORD kNameField = 264;
const DWORD kCopyPiece = 1024;

LONGLONG ReadInt64(const BYTE* bytes)
{
    ULONGLONG value = 0;
    for (int i = 7; i >= 0; --i)
        value = (value << 8) | bytes[i];
    return static_cast<LONGLONG>(value);
}

// remaining - size with the wrap-around of the 64-bit count, without signed overflow: sizes
// are the archive's own numbers and may be anything.
LONGLONG CountDown(LONGLONG remaining, LONGLONG size)
{
    return static_cast<LONGLONG>(static_cast<ULONGLONG>(remaining) - static_cast<ULONGLONG>(size));
}

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

// DOS device names stay devices in every folder ("sub\NUL.txt" writes to the null device).
bool IsDeviceName(const char* level, int length)
{
    int base = 0;
    while (base < length && level[base] != '.')
        ++base;
    while (base > 0 && level[base - 1] == ' ')
        --base;
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : kDevices)
        if (base == lstrlenA(device) && _strnicmp(level, device, base) == 0)
            return true;
    if (base == 4 && (_strnicmp(level, "COM", 3) == 0 || _strnicmp(level, "LPT", 3) == 0) &&
        level[3] >= '1' && level[3] <= '9')
        return true;
    return false;
}

// The entry name becomes a path under the destination folder, so it must be a relative path
// that cannot leave it: not empty, no drive, no colon at all (that would also open an
// alternate data stream), no leading separator, no empty or device level. No level may end in
// a dot or a blank, which Windows drops ("setup.exe." is setup.exe, ". ." is "."), nor in a
// lead byte without its trail byte, which the conversion to the file system's names drops or
// changes. A name field without its terminator inside the 264 bytes is refused too. Separators
// are found with the double-byte rule: 0x5C as the second byte of a character is not a
// backslash. Returns the rule that the name breaks, or null for a safe name.
const char* BrokenNameRule(const char* field)
{
    const char* end = static_cast<const char*>(memchr(field, '\0', kNameField));
    if (!end)
        return "no terminator within the name field";
    if (end == field)
        return "empty name";
    const int length = static_cast<int>(end - field);
    int levelStart = 0;
    bool loneLead = false;   // the level so far ends in a lead byte without its trail byte
    for (int i = 0; i <= length; ++i)
    {
        const unsigned char c = static_cast<unsigned char>(field[i]);
        if (i + 1 < length && IsDoubleBytePair(c, static_cast<unsigned char>(field[i + 1])))
        {
            ++i;
            loneLead = false;
            continue;
        }
        if (c == ':')
            return "a colon (drive or data stream)";
        if (i == length || IsSeparator(field[i]))
        {
            const int levelLength = i - levelStart;
            if (levelLength == 0)
                return "an empty level (leading or doubled separator)";
            if (loneLead)
                return "a level ending in a lead byte without its trail byte";
            if (field[i - 1] == '.' || field[i - 1] == ' ')
                return "a level ending in a dot or a blank";
            if (IsDeviceName(field + levelStart, levelLength))
                return "a device name";
            levelStart = i + 1;
        }
        loneLead = IsLeadByte(c);
    }
    return NULL;
}

// Copies dataSize bytes from the archive to the output through the copy buffer.
HRESULT CopyContent(CFileObject& archive, CFileObject& output, BYTE* buffer, LONGLONG dataSize)
{
    for (LONGLONG left = dataSize; left > 0;)
    {
        DWORD piece = left < kCopyPiece ? static_cast<DWORD>(left) : kCopyPiece;
        DWORD read = 0;
        HRESULT hr = archive.Read(buffer, piece, &read);
        if (FAILED(hr))
            return hr;
        left -= read;
        DWORD written = 0;
        hr = output.Write(buffer, read, &written);
        if (FAILED(hr))
            return hr;
        // A write that takes fewer bytes than it was given has run out of room.
        if (written != read)
            return FoldWin32Error(ERROR_DISK_FULL);
    }
    return S_OK;
}

// One extraction after the archive is open and its header checked.
HRESULT ExtractEntries(CFileObject& archive, const char* destinationFolder, LONGLONG remaining,
                       BYTE* buffer)
{
    BYTE header[kEntryHeaderSize];
    while (remaining > 0)
    {
        memset(header, 0, sizeof(header));
        DWORD read = 0;
        HRESULT hr = archive.Read(header, sizeof(header), &read);
        if (FAILED(hr))
        {
            LogFailure("ReadFile", ErrorOfResult(hr), "archive: entry header not read");
            return hr;
        }
        // A header cut short by the end of the archive would name a file by its first bytes.
        if (read < sizeof(header))
        {
            LogEvent("archive: an entry header cut short by the end of the archive");
            return HR_END_OF_FILE;
        }
        remaining = CountDown(remaining, kEntryHeaderSize);

        const char* name = reinterpret_cast<const char*>(header + kNameOffset);
        if (const char* rule = BrokenNameRule(name))
        {
            // The field may lack its terminator: the name is told from its first bytes.
            char shown[64];
            lstrcpynA(shown, name, sizeof(shown));
            LogEvent("archive entry \"%s\" refused: %s", shown, rule);
            return E_FAIL;
        }
        CText path;
        if (!path.Assign(destinationFolder))
            return E_OUTOFMEMORY;
        path.AddBackslash();
        if (!path.AppendWhole(name))
            return E_OUTOFMEMORY;

        // The destination is the new work directory: a file that is there already was written by
        // an earlier entry of another name for the same file (a repeat, another case), or is the
        // archive itself, and is never overwritten.
        CFileObject output;
        hr = CreateNewOutputFile(output, path.GetText());
        if (FAILED(hr))
        {
            LogFailure("CreateFileA", ErrorOfResult(hr), "archive entry \"%s\": %s not made",
                       name, path.GetText());
            return hr;
        }
        const LONGLONG dataSize = ReadInt64(header);
        hr = CopyContent(archive, output, buffer, dataSize);
        remaining = CountDown(remaining, dataSize);
        output.Close();
        if (FAILED(hr))
        {
            LogFailure(hr == HR_END_OF_FILE ? "ReadFile" : "WriteFile", ErrorOfResult(hr),
                       "archive entry \"%s\" (%I64d bytes): %s cut short", name, dataSize,
                       path.GetText());
            return hr;
        }
        LogEvent("archive entry \"%s\" extracted: %I64d bytes", name, dataSize);
    }
    return S_OK;
}
} // namespace

HRESULT ExtractArchive(const char* archivePath, const char* destinationFolder)
{
    CFileObject archive;
    HRESULT hr = archive.Open(archivePath, OPEN_EXISTING, GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, 0, NULL);
    if (FAILED(hr))
    {
        LogFailure("CreateFileA", ErrorOfResult(hr), "archive %s not opened", archivePath);
        return hr;
    }

    // A header cut short keeps zeros in its missing bytes; only an empty file is an error.
    BYTE header[kFileHeaderSize] = {};
    hr = archive.Read(header, sizeof(header));
    if (FAILED(hr))
    {
        LogFailure("ReadFile", ErrorOfResult(hr), "archive %s: header not read", archivePath);
        return hr;
    }
    if (memcmp(header + kMagicOffset, kMagic, sizeof(kMagic)) != 0)
    {
        LogEvent("archive %s: no PK24 archive (wrong magic)", archivePath);
        return E_FAIL;
    }
    const LONGLONG remaining = CountDown(ReadInt64(header), kFileHeaderSize);

    BYTE* buffer = new (std::nothrow) BYTE[kCopyPiece];
    if (!buffer)
        return E_OUTOFMEMORY;
    hr = ExtractEntries(archive, destinationFolder ? destinationFolder : "", remaining, buffer);
    delete[] buffer;
    return hr;
}

ULONGLONG ArchiveExtractedSize(CPayloadReader& archive)
{
    // The walk of ExtractEntries over the plain bytes, without the names: the same count of the
    // declared total, the same end at a header cut short or an entry cut short.
    const DWORD size = archive.GetSize();
    BYTE header[kFileHeaderSize];
    if (!archive.Read(0, header, kFileHeaderSize) ||
        memcmp(header + kMagicOffset, kMagic, sizeof(kMagic)) != 0)
        return 0;
    LONGLONG remaining = CountDown(ReadInt64(header), kFileHeaderSize);
    ULONGLONG total = 0;
    DWORD offset = kFileHeaderSize;
    while (remaining > 0 && archive.Read(offset, header, 8) &&
           size - offset >= kEntryHeaderSize)
    {
        const LONGLONG dataSize = ReadInt64(header);
        offset += kEntryHeaderSize;
        const DWORD held = size - offset;
        const DWORD copied = dataSize <= 0 ? 0
                             : static_cast<ULONGLONG>(dataSize) < held ? static_cast<DWORD>(dataSize)
                                                                       : held;
        total += copied;
        offset += copied;
        remaining = CountDown(CountDown(remaining, kEntryHeaderSize), dataSize);
    }
    return total;
}
