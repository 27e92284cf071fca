// File helpers of the payload tool: whole-file reads, and an output file that only appears
// under its real name once it is complete.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Reads the whole file. On failure returns false with a message naming the file.
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* data, std::string* error);

// The size of a plain file. On failure returns false with a message naming the file.
bool FileSizeOf(const std::string& path, std::uint64_t* size, std::string* error);

// Text of errno for messages ("No such file or directory").
std::string ErrnoText(int error);

// Writes to a temporary file beside the target and renames it over the target in Commit.
// A file that was never committed is removed by the destructor, so a failed or interrupted
// command leaves no half-written output that a build could mistake for a good one.
class COutputFile
{
public:
    COutputFile();
    ~COutputFile();
    COutputFile(const COutputFile&) = delete;
    COutputFile& operator=(const COutputFile&) = delete;

    bool Create(const std::string& path, std::string* error);
    bool Write(const void* data, std::size_t size, std::string* error);
    bool Commit(std::string* error);
    void Discard();

private:
    std::FILE* m_pFile;
    std::string m_strPath;
    std::string m_strTempPath;
};
