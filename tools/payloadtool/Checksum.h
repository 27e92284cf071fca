// The checksums resource: the CRC-32 (zlib's, as zip and PNG use it) of each plain payload, so
// that the setup program can tell a damaged copy before it runs anything of it.
#pragma once
#include <cstdint>
#include <vector>

// CRC-32 of the whole buffer.
std::uint32_t PayloadCrc32(const std::vector<std::uint8_t>& data);

// The 8 bytes of the checksums resource: the CRC-32 of the archive, then of wmfdist.exe, each
// little-endian.
std::vector<std::uint8_t> ChecksumResource(std::uint32_t archiveCrc, std::uint32_t wmfdistCrc);
