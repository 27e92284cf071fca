// The CRC-32 of the payloads: the one of zip, PNG and zlib (reflected polynomial 0xEDB88320,
// initial and final value inverted), so that the build's checksums, made on the host with zlib,
// match. Its tables are made in memory when the program starts, not stored in the image.
#pragma once
#include <windows.h>

// The CRC-32 of crc's data followed by length more bytes; 0 is the CRC-32 of nothing.
DWORD Crc32(DWORD crc, const BYTE* data, SIZE_T length);
// The CRC-32 of two pieces one after the other, from the CRC-32 of each and the second's length.
DWORD Crc32Combine(DWORD first, DWORD second, ULONGLONG secondLength);
