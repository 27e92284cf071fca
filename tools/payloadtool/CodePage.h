// Conversion between the host's UTF-8 file names and the code page 932 names that the setup
// program reads from the archive.
#pragma once
#include <string>

// Converts UTF-8 to code page 932. Fails when the text is not valid UTF-8 or when a character
// has no code page 932 form that converts back to the same character (so "¥" is refused
// rather than silently turned into the path separator 0x5C).
bool Utf8ToCp932(const std::string& utf8, std::string* cp932);
// Converts code page 932 to UTF-8; fails on bytes that are not valid code page 932.
bool Cp932ToUtf8(const std::string& cp932, std::string* utf8);

// Code page 932 bytes: a lead byte opens a two-byte character when a trail byte follows it.
bool IsCp932LeadByte(unsigned char c);
bool IsCp932Pair(unsigned char lead, unsigned char trail);
// The name as Windows compares it: converted to Unicode and upper-cased (names that differ only
// in case, or in two code page 932 forms of one character, are one file). A name that does not
// convert compares by its bytes, ASCII letters upper-cased.
std::wstring WindowsCompareKey(const std::string& cp932);
