#include "unit/payload/PayloadTestSupport.h"
#include "common/TestSupport.h"
#include <algorithm>

std::string DataDir()
{
    return ProgramDir() + "payload_data\\";
}

// Both headers start with a little-endian 64-bit size and a 4-byte mark, as on disk.
static std::string Header(size_t size, LONGLONG value, const char* mark)
{
    std::string header(size, '\0');
    header.replace(0, 8, reinterpret_cast<const char*>(&value), 8);
    return header.replace(8, 4, mark);
}

std::string ArchiveHeader(LONGLONG totalSize)
{
    return Header(24, totalSize, "PK24");
}

std::string EntryHeader(LONGLONG dataSize, const std::string& nameField)
{
    return Header(284, dataSize, "DRAW").replace(20, std::min<size_t>(nameField.size(), 264), nameField, 0, 264);
}

std::string BuildArchive(const std::vector<std::pair<std::string, std::string>>& entries)
{
    std::string body;
    for (const auto& entry : entries)
        body += EntryHeader(static_cast<LONGLONG>(entry.second.size()), entry.first) + entry.second;
    return ArchiveHeader(static_cast<LONGLONG>(24 + body.size())) + body;
}

std::string TestBytes(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 23);
    return bytes;
}
