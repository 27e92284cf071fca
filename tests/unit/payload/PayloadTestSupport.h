// Helpers of the payload tests: where the build put the test inputs, hand-made archives, and
// settings that are put back at the end of a scope.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

// The test program's own type-1001 resources (payload_test.rc.in): the sizes around the chunk
// limits, an empty one, an archive of six files and the same cut short, and an id that is not
// there.
enum
{
    IDR_TEST_100000 = 301, IDR_TEST_250000, IDR_TEST_450000, IDR_TEST_2999999, IDR_TEST_3000000,
    IDR_TEST_EMPTY, IDR_TEST_MANY, IDR_TEST_CUT, IDR_TEST_MISSING = 399
};

// <tests folder>\payload_data\, written by the build (make_test_data.py and the payload tool).
std::string DataDir();

// The 24-byte archive header declaring totalSize, and a 284-byte entry header whose 264-byte
// name field gets nameField (no terminator when it is 264 bytes or longer).
std::string ArchiveHeader(LONGLONG totalSize);
std::string EntryHeader(LONGLONG dataSize, const std::string& nameField);
// A well-formed archive of {name, data} entries.
std::string BuildArchive(const std::vector<std::pair<std::string, std::string>>& entries);
// Deterministic bytes for the hand-made cases.
std::string TestBytes(size_t size, unsigned seed);

// Sets one of the doubles' environment variables for the scope; it is removed afterwards.
class CScopedEnv
{
public:
    CScopedEnv(const char* name, const std::string& value) : m_pszName(name) { SetEnvironmentVariableA(name, value.c_str()); }
    CScopedEnv(const char* name, int value) : CScopedEnv(name, std::to_string(value)) {}
    ~CScopedEnv() { SetEnvironmentVariableA(m_pszName, NULL); }
    CScopedEnv(const CScopedEnv&) = delete;
    CScopedEnv& operator=(const CScopedEnv&) = delete;

private:
    const char* m_pszName;
};
