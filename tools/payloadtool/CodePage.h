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
