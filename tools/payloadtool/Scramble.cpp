#include "Scramble.h"

namespace
{
const std::uint64_t kLargeFrom = 3000000;
const std::size_t kSmallChunk = 100000;
const std::size_t kLargeChunk = 1000000;
const std::uint8_t kSeeds[3] = { 0, 0x5E, 0x27 };   // by chunk index; chunk 0 stays plain

// Calls transform(chunkStart, chunkLength, seed) for chunks 1 and 2 where they exist.
template <typename Transform>
void ForScrambledChunks(std::uint8_t* data, std::size_t size, Transform transform)
{
    std::size_t chunk = PayloadChunkSize(size);
    for (std::size_t index = 1; index <= 2; ++index)
    {
        std::size_t start = chunk * index;
        if (start >= size)
            break;
        std::size_t length = size - start < chunk ? size - start : chunk;
        transform(data + start, length, kSeeds[index]);
    }
}
}

std::size_t PayloadChunkSize(std::uint64_t totalSize)
{
    return totalSize >= kLargeFrom ? kLargeChunk : kSmallChunk;
}

void ScramblePayload(std::uint8_t* data, std::size_t size)
{
    ForScrambledChunks(data, size, [](std::uint8_t* bytes, std::size_t length, std::uint8_t seed) {
        std::uint8_t previousPlain = seed;
        for (std::size_t k = 0; k < length; ++k)
        {
            std::uint8_t plain = bytes[k];
            bytes[k] = static_cast<std::uint8_t>(plain ^ previousPlain);
            previousPlain = plain;
        }
    });
}

void UnscramblePayload(std::uint8_t* data, std::size_t size)
{
    ForScrambledChunks(data, size, [](std::uint8_t* bytes, std::size_t length, std::uint8_t seed) {
        std::uint8_t running = seed;
        for (std::size_t k = 0; k < length; ++k)
        {
            running = static_cast<std::uint8_t>(running ^ bytes[k]);
            bytes[k] = running;
        }
    });
}
