// The chunked scrambling of the payload resources. The setup program unscrambles each
// resource while it writes it out; these are the two directions of that rule.
#pragma once
#include <cstddef>
#include <cstdint>

// Chunk size for a resource of the given whole size: 100,000 bytes, or 1,000,000 bytes from
// 3,000,000 bytes up.
std::size_t PayloadChunkSize(std::uint64_t totalSize);

// Chunks 1 and 2 are scrambled with a running exclusive-or seeded afresh per chunk (0x5E for
// chunk 1, 0x27 for chunk 2): stored[0] = plain[0] ^ seed, stored[k] = plain[k] ^ plain[k-1].
// Every other chunk is stored plain. Both work in place on the whole resource.
void ScramblePayload(std::uint8_t* data, std::size_t size);
void UnscramblePayload(std::uint8_t* data, std::size_t size);
