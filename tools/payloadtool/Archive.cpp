#include "Archive.h"
#include "CodePage.h"
#include "FileIo.h"
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <vector>

namespace fs = std::filesystem;

namespace
{
const char kMagic[4] = { 'P', 'K', '2', '4' };
const char kEntryMark[4] = { 'D', 'R', 'A', 'W' };

struct PackEntry
{
    fs::path source;
    std::string name;        // code page 932
    std::uint64_t size;
};

void PutLe64(std::uint8_t* at, std::uint64_t value)
{
    for (int i = 0; i < 8; ++i)
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint64_t GetLe64(const std::uint8_t* at)
{
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = (value << 8) | at[i];
    return value;
}

std::string AsciiLower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

const char kArchiveFileName[] = "PivoraSetup_IS.bin";   // what the setup extracts from

// Why one level of an entry name (code page 932 bytes) cannot be a file or folder that the
// setup program writes under its work folder, or empty when it can. Separators and the other
// forbidden characters are found only as whole characters: 0x5C as the second byte of a
// character is no backslash.
std::string LevelProblem(const std::string& level)
{
    if (level.empty())
        return "has an empty level (a leading, doubled or trailing separator)";
    if (level.find_first_not_of(". ") == std::string::npos)
        return "has a level of dots and blanks, which names the folder or one above it";
    std::size_t last = 0;
    for (std::size_t i = 0; i < level.size(); ++i)
    {
        unsigned char c = static_cast<unsigned char>(level[i]);
        last = i;
        if (i + 1 < level.size() && IsCp932Pair(c, static_cast<unsigned char>(level[i + 1])))
        {
            ++i;
            continue;
        }
        if (c < 0x20)
            return "contains a control character";
        if (std::strchr("<>:\"/\\|?*", c))
            return std::string("contains '") + static_cast<char>(c) + "', which Windows does not allow in file names";
    }
    unsigned char end = static_cast<unsigned char>(level[last]);
    if (last == level.size() - 1 && IsCp932LeadByte(end))
        return "has a level that ends with a lone lead byte, which Windows drops from file names";
    if (end == '.' || end == ' ')
        return "has a level that ends with a dot or a blank, which Windows drops from file names";
    // Device names stay devices in every folder and with any extension ("sub\\nul.txt").
    std::string stem = AsciiLower(level.substr(0, level.find('.')));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    static const char* const kDevices[] = { "con", "prn", "aux", "nul", "conin$", "conout$" };
    for (const char* device : kDevices)
        if (stem == device)
            return "is a reserved device name on Windows";
    if (stem.size() == 4 && (stem.compare(0, 3, "com") == 0 || stem.compare(0, 3, "lpt") == 0)
        && stem[3] >= '1' && stem[3] <= '9')
        return "is a reserved device name on Windows";
    return std::string();
}

// The levels of an entry name, split at backslashes and slashes that are whole characters.
std::vector<std::string> SplitLevels(const std::string& name)
{
    std::vector<std::string> levels(1);
    for (std::size_t i = 0; i < name.size(); ++i)
    {
        if (i + 1 < name.size() && IsCp932Pair(static_cast<unsigned char>(name[i]),
                                               static_cast<unsigned char>(name[i + 1])))
        {
            levels.back() += name.substr(i++, 2);
            continue;
        }
        if (name[i] == '\\' || name[i] == '/')
            levels.emplace_back();
        else
            levels.back() += name[i];
    }
    return levels;
}

// Two names that Windows takes for one file have the same key: each level without the dots and
// blanks that Windows drops at its end, compared as Windows compares names.
std::wstring FileKey(const std::string& name)
{
    std::string joined;
    for (std::string level : SplitLevels(name))
    {
        while (!level.empty() && (level.back() == '.' || level.back() == ' '))
            level.pop_back();
        joined += (joined.empty() ? "" : "\\") + level;
    }
    return WindowsCompareKey(joined);
}

// The name as it can be shown on a terminal: code page 932 characters in UTF-8, every byte that
// is no printable character (control characters, bytes that form no character) as \xNN.
std::string ShownName(const std::string& name)
{
    std::string shown;
    for (std::size_t i = 0; i < name.size(); ++i)
    {
        unsigned char c = static_cast<unsigned char>(name[i]);
        std::size_t unit = i + 1 < name.size() && IsCp932Pair(c, static_cast<unsigned char>(name[i + 1])) ? 2 : 1;
        std::string converted;
        if ((c >= 0x20 && c < 0x7F) || ((c >= 0xA1 && c <= 0xDF) || unit == 2))
        {
            if (Cp932ToUtf8(name.substr(i, unit), &converted))
            {
                shown += converted;
                i += unit - 1;
                continue;
            }
        }
        char escaped[8];
        std::snprintf(escaped, sizeof(escaped), "\\x%02X", c);
        shown += escaped;
    }
    return shown;
}

// Every file below folder, at any depth and links not followed, as a path relative to top with
// '/' between its levels; empty folders give nothing.
bool CollectNested(const fs::path& folder, const fs::path& top, std::vector<std::string>* nested,
                   std::string* error)
{
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
    {
        fs::file_status status = it->symlink_status(ec);
        if (ec)
            break;
        if (!fs::is_directory(status))
            nested->push_back(it->path().lexically_relative(top).generic_string());
    }
    if (ec)
    {
        *error = folder.string() + ": cannot read the folder: " + ec.message();
        return false;
    }
    return true;
}

// Takes the files at the top of folder in name order. The setup program extracts into one
// folder and makes none below it, so files in subfolders are gathered in nested for the refusal
// rather than packed.
bool CollectFolder(const fs::path& folder, std::vector<PackEntry>* entries,
                   std::vector<std::string>* nested, std::string* error)
{
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec)
    {
        *error = folder.string() + ": cannot read the folder: " + ec.message();
        return false;
    }
    std::vector<fs::path> children;
    for (; it != fs::directory_iterator(); it.increment(ec))
    {
        if (ec)
            break;
        children.push_back(it->path());
    }
    if (ec)
    {
        *error = folder.string() + ": cannot read the folder: " + ec.message();
        return false;
    }
    std::sort(children.begin(), children.end());

    // Windows compares names without regard to case: two such names would end in one file. A
    // file named like the archive would be written over the archive being read.
    std::set<std::wstring> seen;
    seen.insert(FileKey(kArchiveFileName));
    for (const fs::path& child : children)
    {
        std::string shown = child.filename().string();
        fs::file_status status = fs::symlink_status(child, ec);
        if (ec)
        {
            *error = child.string() + ": " + ec.message();
            return false;
        }
        if (fs::is_directory(status))
        {
            if (!CollectNested(child, folder, nested, error))
                return false;
            continue;
        }
        if (!fs::is_regular_file(status))
        {
            *error = child.string() + ": not a plain file or folder"
                     + (fs::is_symlink(status) ? std::string(" (a symbolic link)") : std::string());
            return false;
        }
        std::string name;
        if (!Utf8ToCp932(shown, &name))
        {
            *error = "\"" + shown + "\": the name is not representable in code page 932";
            return false;
        }
        std::string problem = LevelProblem(name);
        if (!problem.empty())
        {
            *error = "\"" + ShownName(name) + "\": the name " + problem;
            return false;
        }
        if (!seen.insert(FileKey(name)).second)
        {
            *error = "\"" + shown + "\": another file at the top of the folder is the same file on "
                     "Windows (it differs only in case, or is the archive's own name)";
            return false;
        }
        if (name.size() > kMaxEntryName)
        {
            *error = "\"" + shown + "\": the name is " + std::to_string(name.size())
                     + " bytes long in code page 932; at most " + std::to_string(kMaxEntryName)
                     + " fit";
            return false;
        }
        std::uintmax_t size = fs::file_size(child, ec);
        if (ec)
        {
            *error = child.string() + ": " + ec.message();
            return false;
        }
        entries->push_back(PackEntry{ child, name, size });
    }
    return true;
}

bool CopyContent(const PackEntry& entry, COutputFile* out, std::string* error)
{
    std::FILE* file = std::fopen(entry.source.c_str(), "rb");
    if (!file)
    {
        *error = entry.source.string() + ": " + ErrnoText(errno);
        return false;
    }
    std::uint8_t buffer[65536];
    std::uint64_t left = entry.size;
    bool ok = true;
    while (ok && left > 0)
    {
        std::size_t want = left < sizeof(buffer) ? static_cast<std::size_t>(left) : sizeof(buffer);
        std::size_t got = std::fread(buffer, 1, want, file);
        if (got != want)
        {
            *error = entry.source.string()
                     + (std::ferror(file) ? ": read error: " + ErrnoText(errno)
                                          : std::string(": the file became shorter while it was packed"));
            ok = false;
            break;
        }
        ok = out->Write(buffer, got, error);
        left -= got;
    }
    if (ok && std::fgetc(file) != EOF)
    {
        *error = entry.source.string() + ": the file grew while it was packed";
        ok = false;
    }
    std::fclose(file);
    return ok;
}

// True when inner is folder itself or lies somewhere below it.
bool IsInside(const fs::path& inner, const fs::path& folder)
{
    auto mismatch = std::mismatch(folder.begin(), folder.end(), inner.begin(), inner.end());
    return mismatch.first == folder.end();
}
}

bool PackFolder(const std::string& folder, const std::string& archivePath, std::string* error)
{
    std::error_code ec;
    fs::file_status status = fs::status(folder, ec);
    if (ec || !fs::is_directory(status))
    {
        *error = folder + ": " + (ec ? ec.message() : std::string("not a folder"));
        return false;
    }
    fs::path canonicalFolder = fs::weakly_canonical(folder, ec);
    fs::path canonicalArchive = fs::weakly_canonical(fs::absolute(archivePath, ec), ec);
    if (!ec && IsInside(canonicalArchive, canonicalFolder))
    {
        *error = archivePath + ": the archive cannot be written inside the folder that it packs";
        return false;
    }

    std::vector<PackEntry> entries;
    std::vector<std::string> nested;
    if (!CollectFolder(folder, &entries, &nested, error))
        return false;
    if (!nested.empty())
    {
        std::sort(nested.begin(), nested.end());
        *error = folder + ": " + std::to_string(nested.size())
                 + (nested.size() == 1 ? " file lies in a subfolder" : " files lie in subfolders")
                 + ". The setup program extracts the archive into its work folder"
                   " and makes no folders there, so such a file cannot be extracted and the run"
                   " would end with its \"setup file may be damaged\" message. Keep the"
                   " installer's files at the top of the folder:";
        for (const std::string& path : nested)
            *error += "\n  " + path;
        return false;
    }
    bool hasSetup = std::any_of(entries.begin(), entries.end(), [](const PackEntry& entry) {
        return AsciiLower(entry.name) == "setup.exe";
    });
    if (!hasSetup)
    {
        *error = folder + ": no setup.exe at the top of the folder; the setup program starts it";
        return false;
    }

    std::uint64_t total = kArchiveHeaderSize;
    for (const PackEntry& entry : entries)
        total += kEntryHeaderSize + entry.size;

    COutputFile out;
    if (!out.Create(archivePath, error))
        return false;
    std::uint8_t header[kArchiveHeaderSize] = {};
    PutLe64(header, total);
    std::memcpy(header + 8, kMagic, sizeof(kMagic));
    if (!out.Write(header, sizeof(header), error))
        return false;
    for (const PackEntry& entry : entries)
    {
        std::uint8_t entryHeader[kEntryHeaderSize] = {};
        PutLe64(entryHeader, entry.size);
        std::memcpy(entryHeader + 8, kEntryMark, sizeof(kEntryMark));
        std::memcpy(entryHeader + kEntryNameOffset, entry.name.data(), entry.name.size());
        if (!out.Write(entryHeader, sizeof(entryHeader), error) || !CopyContent(entry, &out, error))
            return false;
    }
    return out.Commit(error);
}

namespace
{
// Why the setup program refuses the entry name, or empty when it writes it: the rules of every
// level, and no earlier entry (nor the archive itself) that is the same file on Windows.
std::string EntryNameProblem(const std::string& name, std::set<std::wstring>* seen)
{
    for (const std::string& level : SplitLevels(name))
    {
        std::string problem = LevelProblem(level);
        if (!problem.empty())
            return "the name " + problem;
    }
    std::string utf8;
    if (!Cp932ToUtf8(name, &utf8))
        return "the name is not valid code page 932 text";
    if (seen->empty())
        seen->insert(FileKey(kArchiveFileName));
    if (!seen->insert(FileKey(name)).second)
        return "the name is the same file on Windows as an earlier entry or the archive itself";
    return std::string();
}

// Walks the entries of an opened archive of fileSize bytes. A name that the setup would refuse
// is reported and the walk goes on; a broken layout ends it.
bool ListEntries(std::ifstream& file, std::uint64_t fileSize, const std::string& archivePath,
                 std::FILE* out, std::vector<std::string>* problems, std::uint64_t* contentSize)
{
    std::uint8_t header[kArchiveHeaderSize];
    if (fileSize < kArchiveHeaderSize
        || !file.read(reinterpret_cast<char*>(header), sizeof(header)))
    {
        problems->push_back(archivePath + ": " + std::to_string(fileSize) + " bytes, too short for the "
                            + std::to_string(kArchiveHeaderSize) + "-byte archive header");
        return false;
    }
    if (std::memcmp(header + 8, kMagic, sizeof(kMagic)) != 0)
    {
        problems->push_back(archivePath + ": not a PK24 archive (no \"PK24\" at offset 8)");
        return false;
    }
    std::uint64_t declared = GetLe64(header);
    std::uint64_t position = kArchiveHeaderSize;
    std::uint64_t count = 0;
    std::set<std::wstring> seen;
    while (position < fileSize)
    {
        std::string entryText = "entry " + std::to_string(count + 1) + " at offset "
                                + std::to_string(position);
        std::uint8_t entryHeader[kEntryHeaderSize];
        if (fileSize - position < kEntryHeaderSize
            || !file.read(reinterpret_cast<char*>(entryHeader), sizeof(entryHeader)))
        {
            problems->push_back(archivePath + ": the file ends inside the header of " + entryText);
            return false;
        }
        position += kEntryHeaderSize;
        std::uint64_t size = GetLe64(entryHeader);
        const char* nameField = reinterpret_cast<const char*>(entryHeader + kEntryNameOffset);
        std::size_t nameLength = 0;
        while (nameLength < kEntryNameField && nameField[nameLength])
            ++nameLength;
        const std::string name(nameField, nameLength);
        const std::string shown = ShownName(name);
        std::string problem = nameLength == kEntryNameField ? std::string("the name has no terminating NUL")
                              : nameLength == 0            ? std::string("the name is empty")
                                                           : EntryNameProblem(name, &seen);
        if (!problem.empty())
            problems->push_back(archivePath + ": " + entryText + " \"" + shown + "\": " + problem);
        // The setup program counts sizes as signed 64-bit values.
        if (size > static_cast<std::uint64_t>(INT64_MAX) || size > fileSize - position)
        {
            problems->push_back(archivePath + ": " + entryText + " \"" + shown + "\" declares "
                                + std::to_string(size) + " bytes, but only "
                                + std::to_string(fileSize - position) + " follow");
            return false;
        }
        if (out)
            std::fprintf(out, "%llu\t%s\n", static_cast<unsigned long long>(size), shown.c_str());
        if (contentSize)
            *contentSize += size;
        position += size;
        ++count;
        if (!file.seekg(static_cast<std::streamoff>(position)))
        {
            problems->push_back(archivePath + ": cannot seek to offset " + std::to_string(position));
            return false;
        }
    }
    if (out)
        std::fprintf(out, "%llu entries, %llu bytes\n", static_cast<unsigned long long>(count),
                     static_cast<unsigned long long>(fileSize));
    if (declared != fileSize)
        problems->push_back(archivePath + ": the header declares a total size of " + std::to_string(declared)
                            + " bytes, but the entries fill " + std::to_string(fileSize) + " bytes");
    return problems->empty();
}
}

bool ListArchive(const std::string& archivePath, std::FILE* out, std::vector<std::string>* problems,
                 std::uint64_t* contentSize)
{
    if (contentSize)
        *contentSize = 0;
    std::error_code ec;
    fs::file_status status = fs::status(archivePath, ec);
    if (ec || !fs::is_regular_file(status))
    {
        problems->push_back(archivePath + ": " + (ec ? ec.message() : std::string("not a plain file")));
        return false;
    }
    std::uint64_t fileSize = fs::file_size(archivePath, ec);
    if (ec)
    {
        problems->push_back(archivePath + ": " + ec.message());
        return false;
    }
    std::ifstream file(archivePath, std::ios::binary);
    if (!file)
    {
        problems->push_back(archivePath + ": " + ErrnoText(errno));
        return false;
    }
    return ListEntries(file, fileSize, archivePath, out, problems, contentSize);
}
