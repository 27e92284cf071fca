// Writes a payload resource of the executable to a file, unscrambling it on the way.
#pragma once
#include <windows.h>

// What UnpackResource answers for a damaged payload: ERROR_CRC folded.
const HRESULT HR_PAYLOAD_DAMAGED = (HRESULT)0x80070017;

// Writes the type-1001 resource resourceId of the module instance to outputPath (an existing
// file is replaced). S_OK when every byte was written; E_FAIL when the resource is missing or
// empty; the folded error of the call when the file cannot be created or written (0x80070070,
// ERROR_DISK_FULL, when the drive has no room left). A file that failed half-way stays as it is.
// When the executable carries the checksums resource, the payloads that it covers must also
// give their CRC-32 there: a payload that does not (or a checksums resource of the wrong size)
// is damaged, HR_PAYLOAD_DAMAGED, and its file is deleted.
HRESULT UnpackResource(WORD resourceId, const char* outputPath);

// A payload resource of the module instance read in place, as the plain bytes that
// UnpackResource would write, without writing anything: for what the run must know of its
// payloads before it writes them.
class CPayloadReader
{
public:
    explicit CPayloadReader(WORD resourceId);
    CPayloadReader(const CPayloadReader&) = delete;
    CPayloadReader& operator=(const CPayloadReader&) = delete;

    // The payload's size; 0 when the resource is missing or empty.
    DWORD GetSize() const { return m_dwSize; }
    // Copies count plain bytes from offset on into out; false when they do not all lie inside the
    // payload. A scrambled byte is had by unscrambling its chunk up to it, so reads cost least
    // when their offsets grow: each byte of a scrambled chunk is then unscrambled once.
    bool Read(DWORD offset, BYTE* out, DWORD count);

private:
    BYTE PlainAt(DWORD offset);

    const BYTE* m_pBytes;
    DWORD m_dwSize;
    DWORD m_dwChunk;
    DWORD m_dwNext;   // the scrambled byte after the last one unscrambled
    BYTE m_running;   // the plain byte before m_dwNext
};
