// The payload archive ("PK24"): a 24-byte file header (total size, magic, 12 zero bytes), then
// per file a 284-byte entry header (data size, "DRAW" and 8 zero bytes, a 264-byte code page
// 932 name with its NUL) followed by the file's bytes. No compression, no checksum.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

const std::size_t kArchiveHeaderSize = 24;
const std::size_t kEntryHeaderSize = 284;
const std::size_t kEntryNameOffset = 20;
const std::size_t kEntryNameField = 264;   // the name and its NUL
const std::size_t kMaxEntryName = kEntryNameField - 1;

// Packs the files at the top of folder into a new archive. Refuses a folder with files in
// subfolders (naming them all: the setup program makes no folders), a folder without setup.exe,
// anything but plain files and folders, names that the setup program could not write on
// Windows, and names longer than 263 bytes in code page 932. Empty subfolders are left out.
bool PackFolder(const std::string& folder, const std::string& archivePath, std::string* error);

// Prints one line per entry (size, a tab, the name in UTF-8 with unprintable bytes as \xNN) and
// a summary line to out (nothing when out is null). Adds a problem for every name that the setup
// program refuses and for entries that do not fill the file exactly as the declared total size
// says; true without any. With contentSize, the sum of the entries' sizes goes there.
bool ListArchive(const std::string& archivePath, std::FILE* out, std::vector<std::string>* problems,
                 std::uint64_t* contentSize = nullptr);
