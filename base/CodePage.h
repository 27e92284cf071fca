// The double-byte rule of the ANSI code page: a lead byte followed by a valid trail byte is one
// character, and a backslash or delimiter byte that is the second byte of such a character is
// never a separator. Every path operation of the program follows it.
#pragma once
#include <windows.h>

// True when lead and trail form one double-byte character of the ANSI code page: lead is a
// lead byte and trail a valid trail byte (code page 932: 0x40-0x7E and 0x80-0xFC).
bool IsDoubleBytePair(unsigned char lead, unsigned char trail);
// True when text[index] is the second byte of a double-byte character, scanning from the start.
bool IsTrailByteAt(const char* text, int index);
// True when c is a lead byte of the ANSI code page (whatever follows it).
bool IsLeadByte(unsigned char c);
