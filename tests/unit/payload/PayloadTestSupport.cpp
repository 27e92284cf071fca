#include "unit/payload/PayloadTestSupport.h"
#include "common/TestSupport.h"
#include <algorithm>

std::string DataDir()
{
    return ProgramDir() + "payload_data\\";
}

static std::string Header(size_t size, LONGLONG value, const char* magic)
{
    std::string header(size, '\0');
    header.replace(0, 8, reinterpret_cast<const char*>(&value), 8);   // little-endian, as on disk
    header.replace(8, 4, magic);
    return header;
}

std::string ArchiveHeader(LONGLONG totalSize)
{
    return Header(24, totalSize, "PK24");
}

std::string EntryHeader(LONGLONG dataSize, const std::string& nameField)
{
    std::string header = Header(284, dataSize, "DRAW");
    header.replace(20, std::min<size_t>(nameField.size(), 264), nameField, 0, 264);
    return header;
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
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 23);
    return bytes;
}
