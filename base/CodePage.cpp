#include "base/CodePage.h"

bool IsLeadByte(unsigned char c)
{
    return c >= 0x80 && IsDBCSLeadByte(c);
}

// The trail-byte ranges of the double-byte code pages. Only a lead byte followed by one of these
// forms a character; any other byte after a lead byte stands on its own.
static bool IsValidTrailByte(unsigned char c)
{
    switch (GetACP())
    {
    case 932:   // Shift-JIS
        return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC);
    case 936:   // GBK
        return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFE);
    case 949:   // Unified Hangul Code
        return (c >= 0x41 && c <= 0x5A) || (c >= 0x61 && c <= 0x7A) || (c >= 0x81 && c <= 0xFE);
    case 950:   // Big5
        return (c >= 0x40 && c <= 0x7E) || (c >= 0xA1 && c <= 0xFE);
    case 1361:  // Johab
        return (c >= 0x31 && c <= 0x7E) || (c >= 0x81 && c <= 0xFE);
    default:
        return c != 0;
    }
}

bool IsDoubleBytePair(unsigned char lead, unsigned char trail)
{
    return IsLeadByte(lead) && IsValidTrailByte(trail);
}

bool IsTrailByteAt(const char* text, int index)
{
    if (!text || index <= 0)
        return false;
    int i = 0;
    while (i < index && text[i])
    {
        if (IsDoubleBytePair((unsigned char)text[i], (unsigned char)text[i + 1]))
        {
            if (i + 1 == index)
                return true;
            i += 2;
        }
        else
            i++;
    }
    return false;
}
