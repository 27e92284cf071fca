#include "payload/Unpack.h"
#include "base/FileObject.h"
#include "base/Module.h"
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

// The resource section is read-only, so a scrambled chunk is unscrambled piece by piece in
// this buffer; its size only sets how many writes a scrambled chunk takes.
const DWORD kPieceSize = 32 * 1024;

bool WriteAll(CFileObject& file, const BYTE* bytes, DWORD length)
{
    DWORD written = 0;
    HRESULT hr = file.Write(bytes, length, &written);
    return SUCCEEDED(hr) && written == length;
}

// Unscrambles one chunk into the piece buffer and writes it. The running byte carries over
// from piece to piece, not from chunk to chunk.
bool WriteUnscrambled(CFileObject& file, const BYTE* stored, DWORD length, BYTE seed)
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
        if (!WriteAll(file, piece, count))
            return false;
        done += count;
    }
    return true;
}
} // namespace

bool UnpackResource(WORD resourceId, const char* outputPath)
{
    HMODULE module = GetModuleInstance();
    HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(resourceId),
                               MAKEINTRESOURCEA(RT_PIVORA_PAYLOAD));
    if (!info)
        return false;
    HGLOBAL loaded = LoadResource(module, info);
    if (!loaded)
        return false;
    DWORD size = SizeofResource(module, info);
    if (size == 0)
        return false;
    const BYTE* bytes = static_cast<const BYTE*>(LockResource(loaded));
    if (!bytes)
    {
        FreeResource(loaded);
        return false;
    }

    CFileObject file;
    if (FAILED(CreateOutputFile(file, outputPath)))
    {
        FreeResource(loaded);
        return false;
    }

    const DWORD chunkSize = size >= kLargeFrom ? kLargeChunk : kSmallChunk;
    bool ok = true;
    DWORD offset = 0;
    for (int index = 0; ok && offset < size; ++index)
    {
        DWORD length = size - offset < chunkSize ? size - offset : chunkSize;
        if (index == 1)
            ok = WriteUnscrambled(file, bytes + offset, length, kSeedChunk1);
        else if (index == 2)
            ok = WriteUnscrambled(file, bytes + offset, length, kSeedChunk2);
        else
            ok = WriteAll(file, bytes + offset, length);
        offset += length;
    }

    file.Close();
    FreeResource(loaded);
    return ok;
}
