#include "payload/Crc32.h"
#include <string.h>

namespace {

const DWORD kPolynomial = 0xEDB88320;

// Eight tables: table[k][b] is the CRC of byte b followed by k zero bytes, so that eight bytes
// are summed in one step. x^(2^n) modulo the polynomial, for Crc32Combine. Both are made at
// start and take no room in the image (the build file keeps them out of sections of their own,
// where GCC would store their zeros).
DWORD g_Table[8][256];
DWORD g_PowerOfTwo[32];

// a times b modulo the polynomial, both in the reflected form.
DWORD MultiplyModulo(DWORD a, DWORD b)
{
    DWORD product = 0;
    for (DWORD bit = 1u << 31; bit; bit >>= 1)
    {
        if (a & bit)
            product ^= b;
        b = (b & 1) ? (b >> 1) ^ kPolynomial : b >> 1;
    }
    return product;
}

bool MakeTables()
{
    for (DWORD b = 0; b < 256; ++b)
    {
        DWORD crc = b;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ kPolynomial : crc >> 1;
        g_Table[0][b] = crc;
    }
    for (DWORD b = 0; b < 256; ++b)
        for (int k = 1; k < 8; ++k)
            g_Table[k][b] = (g_Table[k - 1][b] >> 8) ^ g_Table[0][g_Table[k - 1][b] & 0xFF];
    DWORD power = 1u << 30;   // x^1
    for (DWORD& entry : g_PowerOfTwo)
    {
        entry = power;
        power = MultiplyModulo(power, power);
    }
    return true;
}

// Made before WinMain runs, and so before any thread sums.
const bool g_bTablesMade = MakeTables();

} // namespace

namespace {

// Eight bytes at p into crc.
inline DWORD SumEight(DWORD crc, const BYTE* p)
{
    DWORD low, high;
    memcpy(&low, p, 4);
    memcpy(&high, p + 4, 4);
    low ^= crc;
    return g_Table[7][low & 0xFF] ^ g_Table[6][(low >> 8) & 0xFF] ^ g_Table[5][(low >> 16) & 0xFF] ^
           g_Table[4][low >> 24] ^ g_Table[3][high & 0xFF] ^ g_Table[2][(high >> 8) & 0xFF] ^
           g_Table[1][(high >> 16) & 0xFF] ^ g_Table[0][high >> 24];
}

// Longer data is summed in four lanes at once, one after the other in memory, whose sums are
// combined at the end: each lane's steps wait only on its own, so the processor keeps four going.
const SIZE_T kLaneMinimum = 4096;
const int kLanes = 4;

} // namespace

DWORD Crc32(DWORD crc, const BYTE* data, SIZE_T length)
{
    crc = ~crc;
    for (; length && (reinterpret_cast<ULONG_PTR>(data) & 3); --length)
        crc = (crc >> 8) ^ g_Table[0][(crc ^ *data++) & 0xFF];
    if (length >= kLaneMinimum)
    {
        const SIZE_T lane = (length / kLanes) & ~static_cast<SIZE_T>(7);
        DWORD sums[kLanes] = {crc, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
        for (SIZE_T done = 0; done < lane; done += 8)
        {
            sums[0] = SumEight(sums[0], data + done);
            sums[1] = SumEight(sums[1], data + lane + done);
            sums[2] = SumEight(sums[2], data + 2 * lane + done);
            sums[3] = SumEight(sums[3], data + 3 * lane + done);
        }
        crc = sums[0];
        for (int i = 1; i < kLanes; ++i)
            crc = ~Crc32Combine(~crc, ~sums[i], lane);
        data += kLanes * lane;
        length -= kLanes * lane;
    }
    for (; length >= 8; length -= 8, data += 8)
        crc = SumEight(crc, data);
    for (; length; --length)
        crc = (crc >> 8) ^ g_Table[0][(crc ^ *data++) & 0xFF];
    return ~crc;
}

DWORD Crc32Combine(DWORD first, DWORD second, ULONGLONG secondLength)
{
    // first times x^(8 * secondLength), then the second's CRC added.
    DWORD shift = 1u << 31;   // x^0
    for (int n = 3; secondLength; secondLength >>= 1, ++n)
        if (secondLength & 1)
            shift = MultiplyModulo(g_PowerOfTwo[n & 31], shift);
    return MultiplyModulo(shift, first) ^ second;
}
