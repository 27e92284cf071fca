#include "unit/payload/PayloadTestSupport.h"
#include "base/Module.h"
#include "common/TestSupport.h"
#include <algorithm>
#include <stdio.h>

std::string DataDir()
{
    return TestsDir() + "payload_data\\";
}

std::string DoublesDir()
{
    return TestsDir() + "doubles\\";
}

static void PutInt64(std::string* out, size_t offset, LONGLONG value)
{
    for (int i = 0; i < 8; ++i)
        (*out)[offset + i] = static_cast<char>((static_cast<ULONGLONG>(value) >> (8 * i)) & 0xFF);
}

std::string ArchiveHeader(LONGLONG totalSize)
{
    std::string header(24, '\0');
    PutInt64(&header, 0, totalSize);
    header.replace(8, 4, "PK24");
    return header;
}

std::string EntryHeader(LONGLONG dataSize, const std::string& nameField)
{
    std::string header(284, '\0');
    PutInt64(&header, 0, dataSize);
    header.replace(8, 4, "DRAW");
    header.replace(20, std::min<size_t>(nameField.size(), 264), nameField, 0, 264);
    return header;
}

std::string BuildArchive(const std::vector<TestEntry>& entries)
{
    std::string body;
    for (const TestEntry& entry : entries)
        body += EntryHeader(static_cast<LONGLONG>(entry.data.size()), entry.name) + entry.data;
    return ArchiveHeader(static_cast<LONGLONG>(24 + body.size())) + body;
}

std::string TestBytes(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    unsigned state = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i)
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        bytes[i] = static_cast<char>(state >> 24);
    }
    return bytes;
}

std::vector<std::string> ReadLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::string text;
    if (!ReadFileBytes(path, &text))
        return lines;
    size_t start = 0;
    while (start < text.size())
    {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

CScopedEnv::CScopedEnv(const char* name, const char* value) : m_strName(name), m_bHadOld(false)
{
    char old[2048];
    DWORD length = GetEnvironmentVariableA(name, old, sizeof(old));
    if (length > 0 && length < sizeof(old))
    {
        m_strOld = old;
        m_bHadOld = true;
    }
    Set(value);
}

CScopedEnv::CScopedEnv(const char* name, int value) : CScopedEnv(name, std::to_string(value).c_str())
{
}

CScopedEnv::~CScopedEnv()
{
    Set(m_bHadOld ? m_strOld.c_str() : NULL);
}

void CScopedEnv::Set(const char* value)
{
    SetEnvironmentVariableA(m_strName.c_str(), value);
}

CScopedModule::CScopedModule(HINSTANCE module) : m_hOld(GetModuleInstance())
{
    SetModuleInstance(module);
}

CScopedModule::~CScopedModule()
{
    SetModuleInstance(m_hOld);
}
