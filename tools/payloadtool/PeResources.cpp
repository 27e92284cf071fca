#include "PeResources.h"
#include "FileIo.h"

namespace
{
const std::uint32_t kSubdirectoryBit = 0x80000000u;
const std::uint32_t kDirectorySize = 16;
const std::uint32_t kDirectoryEntrySize = 8;
const std::uint32_t kDataEntrySize = 16;
}

CPeResources::CPeResources()
    : m_dwResourceRva(0), m_dwResourceSize(0)
{
}

std::uint32_t CPeResources::Le32(std::uint64_t offset) const
{
    return static_cast<std::uint32_t>(m_Image[offset]) | (static_cast<std::uint32_t>(m_Image[offset + 1]) << 8)
           | (static_cast<std::uint32_t>(m_Image[offset + 2]) << 16)
           | (static_cast<std::uint32_t>(m_Image[offset + 3]) << 24);
}

std::uint16_t CPeResources::Le16(std::uint64_t offset) const
{
    return static_cast<std::uint16_t>(m_Image[offset] | (m_Image[offset + 1] << 8));
}

bool CPeResources::Load(const std::string& path, std::string* error)
{
    m_strPath = path;
    m_Sections.clear();
    if (!ReadWholeFile(path, &m_Image, error))
        return false;
    std::uint64_t size = m_Image.size();
    if (size < 0x40 || m_Image[0] != 'M' || m_Image[1] != 'Z')
    {
        *error = path + ": not a PE file (no MZ header)";
        return false;
    }
    std::uint64_t pe = Le32(0x3C);
    if (pe + 24 > size || Le32(pe) != 0x00004550)
    {
        *error = path + ": not a PE file (no PE signature)";
        return false;
    }
    std::uint16_t sectionCount = Le16(pe + 6);
    std::uint16_t optionalSize = Le16(pe + 20);
    std::uint64_t optional = pe + 24;
    if (optional + optionalSize > size || optionalSize < 2)
    {
        *error = path + ": truncated PE optional header";
        return false;
    }
    // The data directories follow a header of 96 bytes (PE32) or 112 bytes (PE32+).
    std::uint16_t magic = Le16(optional);
    std::uint64_t directories;
    if (magic == 0x10B)
        directories = 96;
    else if (magic == 0x20B)
        directories = 112;
    else
    {
        *error = path + ": unknown PE optional header magic";
        return false;
    }
    const std::uint32_t kResourceDirectoryIndex = 2;
    std::uint64_t resourceDir = directories + kResourceDirectoryIndex * 8;
    if (optionalSize < resourceDir + 8 || Le32(optional + directories - 4) <= kResourceDirectoryIndex)
    {
        *error = path + ": the PE file has no resources";
        return false;
    }
    m_dwResourceRva = Le32(optional + resourceDir);
    m_dwResourceSize = Le32(optional + resourceDir + 4);

    std::uint64_t sectionTable = optional + optionalSize;
    if (sectionTable + static_cast<std::uint64_t>(sectionCount) * 40 > size)
    {
        *error = path + ": truncated PE section table";
        return false;
    }
    for (std::uint16_t i = 0; i < sectionCount; ++i)
    {
        std::uint64_t at = sectionTable + i * 40ull;
        m_Sections.push_back(Section{ Le32(at + 12), Le32(at + 8), Le32(at + 20), Le32(at + 16) });
    }
    std::uint64_t rootOffset;
    if (m_dwResourceRva == 0 || m_dwResourceSize < kDirectorySize
        || !RvaToOffset(m_dwResourceRva, kDirectorySize, &rootOffset))
    {
        *error = path + ": the PE file has no resources";
        return false;
    }
    return true;
}

bool CPeResources::RvaToOffset(std::uint64_t rva, std::uint64_t size, std::uint64_t* offset) const
{
    for (const Section& section : m_Sections)
    {
        std::uint64_t start = section.virtualAddress;
        if (rva < start)
            continue;
        std::uint64_t within = rva - start;
        // Only bytes that the file holds count; a section's zero-filled tail does not.
        if (within + size <= section.rawSize
            && section.rawOffset + within + size <= m_Image.size())
        {
            *offset = section.rawOffset + within;
            return true;
        }
    }
    return false;
}

bool CPeResources::ReadDirectory(std::uint32_t directory, std::uint64_t* first,
                                 std::uint32_t* count, std::string* error) const
{
    std::uint64_t offset;
    if (directory > m_dwResourceSize - kDirectorySize
        || !RvaToOffset(m_dwResourceRva + directory, kDirectorySize, &offset))
    {
        *error = m_strPath + ": damaged resource directory";
        return false;
    }
    std::uint32_t entries = static_cast<std::uint32_t>(Le16(offset + 12)) + Le16(offset + 14);
    std::uint64_t end = directory + kDirectorySize + static_cast<std::uint64_t>(entries) * kDirectoryEntrySize;
    if (end > m_dwResourceSize || !RvaToOffset(m_dwResourceRva + directory, end - directory, &offset))
    {
        *error = m_strPath + ": damaged resource directory";
        return false;
    }
    *first = offset + kDirectorySize;
    *count = entries;
    return true;
}

bool CPeResources::FindEntry(std::uint32_t directory, std::uint16_t id, std::uint32_t* target,
                             std::string* error) const
{
    std::uint64_t first;
    std::uint32_t count;
    if (!ReadDirectory(directory, &first, &count, error))
        return false;
    for (std::uint32_t i = 0; i < count; ++i)
    {
        std::uint64_t at = first + static_cast<std::uint64_t>(i) * kDirectoryEntrySize;
        std::uint32_t name = Le32(at);
        if (!(name & kSubdirectoryBit) && name == id)
        {
            *target = Le32(at + 4);
            return true;
        }
    }
    error->clear();
    return false;
}

bool CPeResources::Find(std::uint16_t type, std::uint16_t id, std::vector<std::uint8_t>* data,
                        std::string* error) const
{
    std::string what = "resource " + std::to_string(id) + " of type " + std::to_string(type);
    std::uint32_t typeEntry;
    std::uint32_t idEntry;
    if (!FindEntry(0, type, &typeEntry, error))
    {
        if (error->empty())
            *error = m_strPath + ": no resources of type " + std::to_string(type);
        return false;
    }
    if (!(typeEntry & kSubdirectoryBit)
        || !FindEntry(typeEntry & ~kSubdirectoryBit, id, &idEntry, error))
    {
        if (error->empty())
            *error = m_strPath + ": no " + what;
        return false;
    }
    std::uint64_t first;
    std::uint32_t count;
    if (!(idEntry & kSubdirectoryBit) || !ReadDirectory(idEntry & ~kSubdirectoryBit, &first, &count, error))
    {
        if (error->empty() || !(idEntry & kSubdirectoryBit))
            *error = m_strPath + ": damaged resource directory for " + what;
        return false;
    }
    if (count != 1)
    {
        *error = m_strPath + ": " + what + " exists in " + std::to_string(count)
                 + " languages; exactly one is expected";
        return false;
    }
    std::uint32_t dataEntry = Le32(first + 4);
    std::uint64_t dataOffset;
    if ((dataEntry & kSubdirectoryBit) || dataEntry > m_dwResourceSize - kDataEntrySize
        || !RvaToOffset(m_dwResourceRva + dataEntry, kDataEntrySize, &dataOffset))
    {
        *error = m_strPath + ": damaged resource directory for " + what;
        return false;
    }
    std::uint32_t rva = Le32(dataOffset);
    std::uint32_t size = Le32(dataOffset + 4);
    std::uint64_t bytes;
    if (!RvaToOffset(rva, size, &bytes))
    {
        *error = m_strPath + ": the data of " + what + " lies outside the file";
        return false;
    }
    data->assign(m_Image.begin() + bytes, m_Image.begin() + bytes + size);
    return true;
}
