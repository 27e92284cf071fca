#include "FileIo.h"
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

namespace fs = std::filesystem;

std::string ErrnoText(int error)
{
    return std::strerror(error);
}

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* data, std::string* error)
{
    std::error_code ec;
    fs::file_status status = fs::status(path, ec);
    if (ec)
    {
        *error = path + ": " + ec.message();
        return false;
    }
    if (!fs::is_regular_file(status))
    {
        *error = path + ": not a plain file";
        return false;
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
    {
        *error = path + ": " + ErrnoText(errno);
        return false;
    }
    data->clear();
    std::uint8_t buffer[65536];
    bool ok = true;
    for (;;)
    {
        std::size_t got = std::fread(buffer, 1, sizeof(buffer), file);
        data->insert(data->end(), buffer, buffer + got);
        if (got < sizeof(buffer))
        {
            if (std::ferror(file))
            {
                *error = path + ": read error: " + ErrnoText(errno);
                ok = false;
            }
            break;
        }
    }
    std::fclose(file);
    return ok;
}

COutputFile::COutputFile()
    : m_pFile(nullptr)
{
}

COutputFile::~COutputFile()
{
    Discard();
}

bool COutputFile::Create(const std::string& path, std::string* error)
{
    Discard();
    m_strPath = path;
    // The temporary name lies in the target's folder so that the final rename stays on one
    // file system and replaces the target in one step. "x" makes the open fail rather than
    // reuse a file that someone else is writing.
    std::random_device random;
    for (int attempt = 0; attempt < 16 && !m_pFile; ++attempt)
    {
        char suffix[32];
        std::snprintf(suffix, sizeof(suffix), ".partial-%08x", static_cast<unsigned>(random()));
        m_strTempPath = path + suffix;
        m_pFile = std::fopen(m_strTempPath.c_str(), "wbx");
        if (!m_pFile && errno != EEXIST)
            break;
    }
    if (!m_pFile)
    {
        *error = m_strTempPath + ": cannot create: " + ErrnoText(errno);
        m_strTempPath.clear();
        return false;
    }
    return true;
}

bool COutputFile::Write(const void* data, std::size_t size, std::string* error)
{
    if (size && std::fwrite(data, 1, size, m_pFile) != size)
    {
        *error = m_strTempPath + ": write error: " + ErrnoText(errno);
        return false;
    }
    return true;
}

bool COutputFile::Commit(std::string* error)
{
    std::FILE* file = m_pFile;
    m_pFile = nullptr;
    if (std::fflush(file) != 0 || std::ferror(file))
    {
        *error = m_strTempPath + ": write error: " + ErrnoText(errno);
        std::fclose(file);
        Discard();
        return false;
    }
    if (std::fclose(file) != 0)
    {
        *error = m_strTempPath + ": write error: " + ErrnoText(errno);
        Discard();
        return false;
    }
    std::error_code ec;
    fs::rename(m_strTempPath, m_strPath, ec);
    if (ec)
    {
        *error = m_strPath + ": cannot replace: " + ec.message();
        Discard();
        return false;
    }
    m_strTempPath.clear();
    return true;
}

void COutputFile::Discard()
{
    if (m_pFile)
    {
        std::fclose(m_pFile);
        m_pFile = nullptr;
    }
    if (!m_strTempPath.empty())
    {
        std::error_code ec;
        fs::remove(m_strTempPath, ec);
        m_strTempPath.clear();
    }
}

bool FileSizeOf(const std::string& path, std::uint64_t* size, std::string* error)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
    {
        *error = path + ": " + (ec ? ec.message() : std::string("not a plain file"));
        return false;
    }
    *size = std::filesystem::file_size(path, ec);
    if (ec)
        *error = path + ": " + ec.message();
    return !ec;
}
