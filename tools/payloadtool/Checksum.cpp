#include "Checksum.h"
#include <zlib.h>

std::uint32_t PayloadCrc32(const std::vector<std::uint8_t>& data)
{
    // zlib counts in uInt; a payload of more than 4 GiB is refused elsewhere, but the sum must
    // not wrap silently if one ever came through.
    const std::size_t kStep = 1u << 30;
    uLong crc = crc32(0L, Z_NULL, 0);
    for (std::size_t done = 0; done < data.size(); done += kStep)
    {
        std::size_t count = data.size() - done < kStep ? data.size() - done : kStep;
        crc = crc32(crc, data.data() + done, static_cast<uInt>(count));
    }
    return static_cast<std::uint32_t>(crc);
}

std::vector<std::uint8_t> ChecksumResource(std::uint32_t archiveCrc, std::uint32_t wmfdistCrc)
{
    std::vector<std::uint8_t> bytes;
    for (std::uint32_t crc : { archiveCrc, wmfdistCrc })
        for (int shift = 0; shift < 32; shift += 8)
            bytes.push_back(static_cast<std::uint8_t>(crc >> shift));
    return bytes;
}
