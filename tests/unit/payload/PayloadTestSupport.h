// Helpers of the payload tests: where the build put the test inputs, hand-made archives, and
// environment and module settings that are put back at the end of a scope.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

// Resource ids of the test program's own type-1001 resources (see payload_test.rc.in).
enum
{
    IDR_TEST_100000 = 301,
    IDR_TEST_250000 = 302,
    IDR_TEST_450000 = 303,
    IDR_TEST_2999999 = 304,
    IDR_TEST_3000000 = 305,
    IDR_TEST_EMPTY = 306,
    IDR_TEST_MISSING = 399,
};

// <tests folder>\payload_data\, written by the build (make_test_data.py and the payload tool).
std::string DataDir();
// <tests folder>\doubles\, the stand-ins of the programs outside the system.
std::string DoublesDir();

// The 24-byte file header of an archive that declares totalSize bytes.
std::string ArchiveHeader(LONGLONG totalSize);
// A 284-byte entry header: data size, "DRAW" and zeros, then nameField copied into the 264-byte
// name field (a field of 264 bytes or more gets no terminator).
std::string EntryHeader(LONGLONG dataSize, const std::string& nameField);
struct TestEntry
{
    std::string name;
    std::string data;
};
// A well-formed archive of the entries, with the total size that they add up to.
std::string BuildArchive(const std::vector<TestEntry>& entries);

// Deterministic bytes for the hand-made cases.
std::string TestBytes(size_t size, unsigned seed);

// The lines of a text file, without their line ends; empty when it cannot be read.
std::vector<std::string> ReadLines(const std::string& path);

// Sets an environment variable for the scope; the value before is put back afterwards.
class CScopedEnv
{
public:
    CScopedEnv(const char* name, const char* value);
    CScopedEnv(const char* name, int value);
    ~CScopedEnv();
    CScopedEnv(const CScopedEnv&) = delete;
    CScopedEnv& operator=(const CScopedEnv&) = delete;

private:
    void Set(const char* value);
    std::string m_strName;
    std::string m_strOld;
    bool m_bHadOld;
};

// Points the module instance at another module for the scope (the payload code looks its
// resources and texts up there).
class CScopedModule
{
public:
    explicit CScopedModule(HINSTANCE module);
    ~CScopedModule();
    CScopedModule(const CScopedModule&) = delete;
    CScopedModule& operator=(const CScopedModule&) = delete;

private:
    HINSTANCE m_hOld;
};
