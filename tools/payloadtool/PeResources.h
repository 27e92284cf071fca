// Reads resources out of a PE image file (32- or 64-bit) without the Windows API.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

class CPeResources
{
public:
    CPeResources();
    CPeResources(const CPeResources&) = delete;
    CPeResources& operator=(const CPeResources&) = delete;

    // Loads the file and finds its resource section; false with a message when the file is
    // not a PE image or has no resources.
    bool Load(const std::string& path, std::string* error);
    // Copies the bytes of resource (type, id) given by integer ids. A resource that exists in
    // more than one language is refused: which one Windows picks depends on the user's
    // language, so the build could not say what the program will unpack.
    bool Find(std::uint16_t type, std::uint16_t id, std::vector<std::uint8_t>* data,
              std::string* error) const;

private:
    struct Section
    {
        std::uint32_t virtualAddress;
        std::uint32_t virtualSize;
        std::uint32_t rawOffset;
        std::uint32_t rawSize;
    };

    bool RvaToOffset(std::uint64_t rva, std::uint64_t size, std::uint64_t* offset) const;
    bool FindEntry(std::uint32_t directory, std::uint16_t id, std::uint32_t* target,
                   std::string* error) const;
    bool ReadDirectory(std::uint32_t directory, std::uint64_t* first, std::uint32_t* count,
                       std::string* error) const;
    std::uint32_t Le32(std::uint64_t offset) const;
    std::uint16_t Le16(std::uint64_t offset) const;

    std::vector<std::uint8_t> m_Image;
    std::vector<Section> m_Sections;
    std::string m_strPath;
    std::uint32_t m_dwResourceRva;
    std::uint32_t m_dwResourceSize;
};
