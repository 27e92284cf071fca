#include "payload/Unpack.h"
#include "payload/Crc32.h"
#include "base/FileObject.h"
#include "base/Log.h"
#include "base/Module.h"
#include "base/ScopedHandle.h"
#include "payload/OutputFile.h"
#include "resources/resource.h"

namespace
{
// The payload is cut into chunks front to back; a payload of 3,000,000 bytes or more uses the
// large chunk. Only the second and the third chunk are scrambled, each with a running XOR of
// its own seed: stored[0] = plain[0] ^ seed, stored[k] = plain[k] ^ plain[k - 1].
const DWORD kSmallChunk = 100000;
const DWORD kLargeChunk = 1000000;
const DWORD kLargeFrom = 3000000;
const BYTE kSeedChunk1 = 0x5E;
const BYTE kSeedChunk2 = 0x27;

// The checksums resource holds one CRC-32 per payload, in this order. An executable without it
// (payloads put in by other tools) unpacks unchecked, as before there were checksums.
const WORD kChecksumsId = IDR_CHECKSUMS;
const WORD kChecksummedIds[] = {IDR_ARCHIVE, IDR_WMFDIST};
const DWORD kChecksumCount = sizeof(kChecksummedIds) / sizeof(kChecksummedIds[0]);
const DWORD kChecksumsSize = kChecksumCount * 4;

// The resource section is read-only, so a scrambled chunk is unscrambled piece by piece in
// this buffer; its size only sets how many writes a scrambled chunk takes.
const DWORD kPieceSize = 32 * 1024;

// The CRC-32 of a payload is taken in the pass that writes it: a payload of 64 MiB is never
// read back to check it. Summing costs about as long as writing, so the plain chunks (the first,
// and the fourth on) are summed on a thread of their own from the same memory that this thread
// writes them from; the scrambled chunks are summed here, piece by piece, while a piece is at
// hand. Finish joins the parts in the order of the file. Without the thread (it could not be
// had) the plain chunks are summed by Finish.
class CPlainChunkSummer
{
public:
    CPlainChunkSummer(const BYTE* bytes, DWORD size, DWORD chunkSize)
        : m_pBytes(bytes), m_dwFirstEnd(size < chunkSize ? size : chunkSize),
          m_dwRestFrom(3 * chunkSize < size ? 3 * chunkSize : size), m_dwSize(size),
          m_dwFirstCrc(0), m_dwRestCrc(0), m_bSummed(false)
    {
    }
    ~CPlainChunkSummer() { Join(); }
    CPlainChunkSummer(const CPlainChunkSummer&) = delete;
    CPlainChunkSummer& operator=(const CPlainChunkSummer&) = delete;

    void Start() { m_hThread.Reset(CreateThread(NULL, 0, ThreadProc, this, 0, NULL)); }

    // The CRC-32 of the whole payload, given that of the scrambled chunks between.
    DWORD Finish(DWORD scrambledCrc)
    {
        Join();
        if (!m_bSummed)
            Sum();
        const DWORD crc = Crc32Combine(m_dwFirstCrc, scrambledCrc, m_dwRestFrom - m_dwFirstEnd);
        return Crc32Combine(crc, m_dwRestCrc, m_dwSize - m_dwRestFrom);
    }

private:
    void Join()
    {
        if (m_hThread.IsSet())
            WaitForSingleObject(m_hThread.Get(), INFINITE);
        m_hThread.Reset();
    }
    static DWORD WINAPI ThreadProc(LPVOID param)
    {
        static_cast<CPlainChunkSummer*>(param)->Sum();
        return 0;
    }
    void Sum()
    {
        m_dwFirstCrc = Crc32(0, m_pBytes, m_dwFirstEnd);
        m_dwRestCrc = Crc32(0, m_pBytes + m_dwRestFrom, m_dwSize - m_dwRestFrom);
        m_bSummed = true;
    }

    CKernelHandle m_hThread;
    const BYTE* m_pBytes;
    const DWORD m_dwFirstEnd;
    const DWORD m_dwRestFrom;
    const DWORD m_dwSize;
    DWORD m_dwFirstCrc;
    DWORD m_dwRestCrc;
    bool m_bSummed;
};

HRESULT WriteAll(CFileObject& file, const BYTE* bytes, DWORD length)
{
    DWORD written = 0;
    HRESULT hr = file.Write(bytes, length, &written);
    // A write that takes fewer bytes than it was given has run out of room.
    if (SUCCEEDED(hr) && written != length)
        hr = FoldWin32Error(ERROR_DISK_FULL);
    return hr;
}

// Unscrambles one chunk into the piece buffer and writes it, summing each piece into *crc when
// crc is given. The running byte carries over from piece to piece, not from chunk to chunk.
HRESULT WriteUnscrambled(CFileObject& file, const BYTE* stored, DWORD length, BYTE seed,
                         DWORD* crc)
{
    BYTE piece[kPieceSize];
    BYTE running = seed;
    for (DWORD done = 0; done < length;)
    {
        DWORD count = length - done < kPieceSize ? length - done : kPieceSize;
        for (DWORD k = 0; k < count; ++k)
        {
            running ^= stored[done + k];
            piece[k] = running;
        }
        if (crc)
            *crc = Crc32(*crc, piece, count);
        const HRESULT hr = WriteAll(file, piece, count);
        if (FAILED(hr))
            return hr;
        done += count;
    }
    return S_OK;
}

// Finds what the checksums resource expects of resourceId. True with *check false when there is
// nothing to check against; false when the resource is there but not as the build makes it,
// which counts as a damaged payload.
bool FindExpectedCrc(HMODULE module, WORD resourceId, bool* check, DWORD* expected)
{
    *check = false;
    DWORD slot = 0;
    while (slot < kChecksumCount && kChecksummedIds[slot] != resourceId)
        ++slot;
    if (slot == kChecksumCount)
        return true;
    HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(kChecksumsId),
                               MAKEINTRESOURCEA(RT_PIVORA_PAYLOAD));
    if (!info)
        return true;
    HGLOBAL loaded = LoadResource(module, info);
    const BYTE* bytes = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : NULL;
    bool ok = bytes && SizeofResource(module, info) == kChecksumsSize;
    if (ok)
    {
        bytes += slot * 4;
        *expected = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) |
                    (static_cast<DWORD>(bytes[3]) << 24);
        *check = true;
    }
    if (loaded)
        FreeResource(loaded);
    return ok;
}

// The chunk size of a payload of size bytes.
DWORD ChunkSizeOf(DWORD size)
{
    return size >= kLargeFrom ? kLargeChunk : kSmallChunk;
}

// The resource in memory: its bytes and size, or null when it is missing, empty or not loaded.
const BYTE* FindPayload(HMODULE module, WORD resourceId, DWORD* size, bool logged)
{
    *size = 0;
    HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(resourceId),
                               MAKEINTRESOURCEA(RT_PIVORA_PAYLOAD));
    HGLOBAL loaded = info ? LoadResource(module, info) : NULL;
    if (!loaded)
    {
        if (logged)
            LogFailure(info ? "LoadResource" : "FindResourceA", GetLastError(),
                       "payload %u: not in the program", resourceId);
        return NULL;
    }
    const DWORD found = SizeofResource(module, info);
    if (found == 0)
    {
        if (logged)
            LogEvent("payload %u: empty", resourceId);
        return NULL;
    }
    const BYTE* bytes = static_cast<const BYTE*>(LockResource(loaded));
    if (!bytes && logged)
        LogFailure("LockResource", GetLastError(), "payload %u", resourceId);
    if (bytes)
        *size = found;
    return bytes;
}
} // namespace

CPayloadReader::CPayloadReader(WORD resourceId)
    : m_pBytes(FindPayload(GetModuleInstance(), resourceId, &m_dwSize, false)),
      m_dwChunk(ChunkSizeOf(m_dwSize)), m_dwNext(0), m_running(0)
{
}

bool CPayloadReader::Read(DWORD offset, BYTE* out, DWORD count)
{
    if (offset > m_dwSize || count > m_dwSize - offset)
        return false;
    for (DWORD i = 0; i < count; ++i)
        out[i] = PlainAt(offset + i);
    return true;
}

BYTE CPayloadReader::PlainAt(DWORD offset)
{
    const DWORD index = offset / m_dwChunk;
    if (index != 1 && index != 2)
        return m_pBytes[offset];
    // plain[k] is the running XOR of the chunk's stored bytes up to k, started from its seed.
    const DWORD start = index * m_dwChunk;
    if (m_dwNext <= start || m_dwNext > offset + 1)
    {
        m_dwNext = start;
        m_running = index == 1 ? kSeedChunk1 : kSeedChunk2;
    }
    while (m_dwNext <= offset)
        m_running ^= m_pBytes[m_dwNext++];
    return m_running;
}

HRESULT UnpackResource(WORD resourceId, const char* outputPath)
{
    HMODULE module = GetModuleInstance();
    DWORD size = 0;
    const BYTE* bytes = FindPayload(module, resourceId, &size, true);
    if (!bytes)
        return E_FAIL;

    bool check = false;
    DWORD expected = 0;
    CFileObject file;
    if (!FindExpectedCrc(module, resourceId, &check, &expected))
    {
        LogEvent("payload %u: damaged: the checksums resource %u is not %lu bytes long",
                 resourceId, kChecksumsId, kChecksumsSize);
        return HR_PAYLOAD_DAMAGED;
    }
    const HRESULT created = CreateOutputFile(file, outputPath);
    if (FAILED(created))
    {
        LogFailure("CreateFileA", ErrorOfResult(created), "payload %u: %s not made", resourceId,
                   outputPath);
        return created;
    }

    const DWORD chunkSize = ChunkSizeOf(size);
    CPlainChunkSummer summer(bytes, size, chunkSize);
    if (check)
        summer.Start();
    DWORD scrambledCrc = 0;
    DWORD* running = check ? &scrambledCrc : NULL;
    HRESULT written = S_OK;
    DWORD offset = 0;
    for (int index = 0; SUCCEEDED(written) && offset < size; ++index)
    {
        DWORD length = size - offset < chunkSize ? size - offset : chunkSize;
        if (index == 1)
            written = WriteUnscrambled(file, bytes + offset, length, kSeedChunk1, running);
        else if (index == 2)
            written = WriteUnscrambled(file, bytes + offset, length, kSeedChunk2, running);
        else
            written = WriteAll(file, bytes + offset, length);
        if (SUCCEEDED(written))
            offset += length;
    }
    const bool ok = SUCCEEDED(written);
    if (!ok)
        LogFailure("WriteFile", ErrorOfResult(written),
                   "payload %u: %s cut short in the chunk from byte %lu of %lu", resourceId,
                   outputPath, offset, size);
    // The summing thread reads the resource: it is joined before the file is closed.
    const DWORD crc = check ? summer.Finish(scrambledCrc) : 0;
    const bool damaged = ok && check && crc != expected;

    file.Close();
    // A damaged payload must not be mistaken for a good one by whatever looks into the work
    // directory next: its file goes. (A write that failed leaves its partial file as it is.)
    if (damaged)
    {
        LogEvent("payload %u: damaged: CRC-32 %08lX, expected %08lX; %s deleted", resourceId,
                 static_cast<DWORD>(crc), expected, outputPath);
        DeleteFileA(outputPath);
        return HR_PAYLOAD_DAMAGED;
    }
    if (ok)
        LogEvent("payload %u: %lu bytes written to %s; checksum %s", resourceId, size, outputPath,
                 check ? "matches" : "not checked (no checksums resource)");
    return written;
}
