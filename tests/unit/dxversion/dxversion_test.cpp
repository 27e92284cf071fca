#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <stdlib.h>
#include <string>
#include <vector>
#include "common/TestSupport.h"
#include "dxversion/DxProbe.h"
#include "dxversion/DxVersion.h"
#include "ProductImage.h"

namespace
{

// Set in the environment of the child runs of RunInChild.
const char kChildMark[] = "PIVORA_DXVERSION_CHILD";

std::string ComponentDll(const char* version)
{
    return TestsDir() + "dxver\\v" + version + ".dll";
}

std::string WithoutBackslash(std::string folder)
{
    if (!folder.empty() && folder.back() == '\\')
        folder.pop_back();
    return folder;
}

struct Component
{
    const char* name;
    const char* version;   // null: a file without a version record
};

struct Release
{
    HRESULT hr;
    DWORD version;
    std::string text;
};

// Fills a fresh folder with the given components, probes it and stores the release the way
// GetDXVersion does.
Release ProbeComponents(const std::vector<Component>& components)
{
    std::string folder = MakeTempDir("dxv");
    for (const Component& c : components)
    {
        std::string target = folder + c.name;
        bool placed = c.version ? CopyFileA(ComponentDll(c.version).c_str(), target.c_str(), FALSE) != 0
                                : WriteFileBytes(target, "MZ not really a library");
        EXPECT_TRUE(placed) << c.name << " " << (c.version ? c.version : "(no record)");
    }
    DWORD major = 0xFFFF, minor = 0xFFFF;
    char letter = '?';
    Release r;
    r.hr = ProbeFolderFiles(WithoutBackslash(folder).c_str(), &major, &minor, &letter);
    char text[16];
    StoreDxVersion(major, minor, letter, &r.version, text, sizeof(text));
    r.text = text;
    RemoveTree(folder);
    return r;
}

// Runs the tests that match filter in a copy of this program called exeName, which Wine starts
// with the given DLL load orders ("" disables a DLL). Wine gives every child its own
// WINEDLLOVERRIDES from the Unix side whatever the parent puts in the environment, so the
// orders go through the per-program registry key instead. Returns the exit code and the output.
DWORD RunInChild(const char* exeName, const char* filter,
                 const std::vector<std::pair<const char*, const char*>>& loadOrders,
                 std::string* output)
{
    output->clear();
    std::string copy = TestsDir() + exeName;
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, sizeof(self));
    if (!CopyFileA(self, copy.c_str(), FALSE))
        return 0xDEAD0001;

    std::string keyPath = std::string("Software\\Wine\\AppDefaults\\") + exeName;
    HKEY key = NULL;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, (keyPath + "\\DllOverrides").c_str(), 0, NULL, 0,
                        KEY_SET_VALUE, NULL, &key, NULL) != ERROR_SUCCESS)
    {
        DeleteFileA(copy.c_str());
        return 0xDEAD0002;
    }
    for (const auto& order : loadOrders)
        RegSetValueExA(key, order.first, 0, REG_SZ, reinterpret_cast<const BYTE*>(order.second),
                       DWORD(strlen(order.second) + 1));
    RegCloseKey(key);

    std::string folder = MakeTempDir("dxchild");
    std::string outputPath = folder + "output.txt";
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), NULL, TRUE};
    HANDLE file = CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                              CREATE_ALWAYS, 0, NULL);
    DWORD exitCode = 0xDEAD0003;
    if (file != INVALID_HANDLE_VALUE)
    {
        std::string commandLine =
            "\"" + copy + "\" --gtest_color=no --gtest_filter=" + std::string(filter);
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = file;
        startup.hStdError = file;
        PROCESS_INFORMATION process = {};
        SetEnvironmentVariableA(kChildMark, "1");
        BOOL started = CreateProcessA(copy.c_str(), &commandLine[0], NULL, NULL, TRUE, 0, NULL,
                                      NULL, &startup, &process);
        SetEnvironmentVariableA(kChildMark, NULL);
        CloseHandle(file);
        if (started)
        {
            if (WaitForSingleObject(process.hProcess, 120000) != WAIT_OBJECT_0)
            {
                TerminateProcess(process.hProcess, 0xDEAD0004);
                WaitForSingleObject(process.hProcess, 5000);
            }
            GetExitCodeProcess(process.hProcess, &exitCode);
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
        ReadFileBytes(outputPath, output);
    }
    RemoveTree(folder);
    RegDeleteTreeA(HKEY_CURRENT_USER, keyPath.c_str());
    DeleteFileA(copy.c_str());
    return exitCode;
}

bool InChild()
{
    return getenv(kChildMark) != NULL;
}

} // namespace

TEST(DxVersion, StoresReleaseAsNumberAndText)
{
    struct
    {
        DWORD major, minor;
        char letter;
        DWORD version;
        const char* text;
    } cases[] = {
        {9, 0, 'c', 0x00090003, "9.0c"},
        {9, 0, 'C', 0x00090003, "9.0c"},
        {9, 0, ' ', 0x00090000, "9.0"},
        {8, 1, 'b', 0x00080102, "8.1b"},
        {7, 0, ' ', 0x00070000, "7.0"},
        {6, 1, 'z', 0x0006011A, "6.1z"},
        {9, 0, '!', 0x00090000, "9.0!"},   // not a letter: nothing in the number, kept in the text
        {0, 0, ' ', 0x00000000, "0.0"},
        {10, 12, 'a', 0x000A0C01, "10.12a"},
    };
    for (const auto& c : cases)
    {
        DWORD version = 0xDEADBEEF;
        char text[16];
        memset(text, 'x', sizeof(text));
        StoreDxVersion(c.major, c.minor, c.letter, &version, text, sizeof(text));
        EXPECT_EQ(c.version, version) << c.major << "." << c.minor << "'" << c.letter << "'";
        EXPECT_STREQ(c.text, text) << c.major << "." << c.minor << "'" << c.letter << "'";
    }
}

TEST(DxVersion, ComparesVersionsAsUnsignedHalves)
{
    EXPECT_EQ(0, CompareVersions(0x0004000700000200ULL, 0x0004000700000200ULL));
    EXPECT_EQ(1, CompareVersions(0x0004000700000201ULL, 0x0004000700000200ULL));
    EXPECT_EQ(-1, CompareVersions(0x0004000600FFFFFFULL, 0x0004000700000000ULL));
    // Both halves compare unsigned: a top bit makes a version larger, not negative.
    EXPECT_EQ(1, CompareVersions(0x0000000180000000ULL, 0x0000000100000001ULL));
    EXPECT_EQ(1, CompareVersions(0x8000000000000000ULL, 0x7FFFFFFFFFFFFFFFULL));
    EXPECT_EQ(-1, CompareVersions(0x7FFFFFFFFFFFFFFFULL, 0x8000000000000000ULL));
}

TEST(DxVersion, ReadsFileVersionRecords)
{
    ULONGLONG version = 0;
    EXPECT_EQ(S_OK, ReadFileVersion(ComponentDll("5.1.2600.881").c_str(), &version));
    EXPECT_EQ(0x00050001'0A280371ULL, version);

    EXPECT_EQ(E_INVALIDARG, ReadFileVersion(NULL, &version));
    EXPECT_EQ(E_INVALIDARG, ReadFileVersion(ComponentDll("1.0.0.0").c_str(), NULL));

    std::string folder = MakeTempDir("dxv");
    version = 42;
    EXPECT_EQ(E_FAIL, ReadFileVersion((folder + "missing.dll").c_str(), &version));
    WriteFileBytes(folder + "plain.dll", "no version record here");
    EXPECT_EQ(E_FAIL, ReadFileVersion((folder + "plain.dll").c_str(), &version));
    EXPECT_EQ(42u, version);
    RemoveTree(folder);
}

// Wine answers the version record of its own DLL for any file named like one of its DLLs,
// wherever the file lies, unless that DLL is set to native: so the table runs in a child with
// the DirectX components set to native.
TEST(DxVersionFiles, InfersReleaseFromComponentVersions)
{
    if (!InChild())
    {
        std::string log;
        DWORD exitCode = RunInChild("unit_dxversion_nativedx.exe", "DxVersionFiles.*",
                                    {{"ddraw", "native"}, {"dinput", "native"}, {"d3d8", "native"},
                                     {"d3d9", "native"}, {"dpnet", "native"}, {"dplayx", "native"}},
                                    &log);
        EXPECT_EQ(0u, exitCode) << log;
        EXPECT_NE(std::string::npos, log.find("[  PASSED  ] 1 test")) << log;
        return;
    }

    struct
    {
        std::vector<Component> components;
        DWORD version;
        const char* text;
    } cases[] = {
        {{}, 0x00000000, "0.0"},
        {{{"ddraw.dll", "4.2.0.94"}}, 0x00000000, "0.0"},
        {{{"ddraw.dll", "4.2.0.95"}}, 0x00010000, "1.0"},
        {{{"ddraw.dll", "4.7.0.699"}}, 0x00060100, "6.1"},
        {{{"ddraw.dll", "4.7.0.700"}, {"dinput.dll", "4.7.0.716"}}, 0x00070001, "7.0a"},
        {{{"ddraw.dll", "4.7.0.700"}, {"dinput.dll", "4.7.0.715"}}, 0x00070000, "7.0"},
        {{{"dinput.dll", "4.7.0.716"}}, 0x00070001, "7.0a"},
        {{{"d3drg8x.dll", "4.4.0.70"}}, 0x00030001, "3.0a"},
        {{{"dplayx.dll", "4.6.3.518"}}, 0x00060101, "6.1a"},
        // Major 6 passes every plain comparison but is neither DirectX 8 form.
        {{{"ddraw.dll", "6.0.0.0"}}, 0x00070000, "7.0"},
        {{{"ddraw.dll", "4.8.0.400"}}, 0x00080000, "8.0"},
        {{{"ddraw.dll", "5.1.2258.399"}}, 0x00070000, "7.0"},
        {{{"ddraw.dll", "5.1.2258.400"}}, 0x00080000, "8.0"},
        {{{"ddraw.dll", "4.8.0.400"}, {"d3d8.dll", "5.1.2600.881"}}, 0x00080100, "8.1"},
        {{{"ddraw.dll", "4.8.0.400"}, {"d3d8.dll", "4.8.1.901"}}, 0x00080101, "8.1a"},
        {{{"ddraw.dll", "4.8.0.400"}, {"d3d8.dll", "6.0.0.0"}}, 0x00080000, "8.0"},
        {{{"ddraw.dll", "4.8.0.400"}, {"mpg2splt.ax", "6.3.1.885"}}, 0x00080102, "8.1b"},
        {{{"dpnet.dll", "4.9.0.134"}}, 0x00080200, "8.2"},
        {{{"ddraw.dll", "4.8.0.400"}, {"dpnet.dll", "5.2.3677.133"}}, 0x00080000, "8.0"},
        // Any readable d3d9.dll means 9.0, whatever its version and whatever came before.
        {{{"d3d9.dll", "1.0.0.0"}}, 0x00090000, "9.0"},
        {{{"ddraw.dll", "6.0.0.0"}, {"dinput.dll", "4.7.0.716"}, {"d3d9.dll", "1.0.0.0"}},
         0x00090000, "9.0"},
        // An unreadable d3d9.dll leaves the release found so far.
        {{{"ddraw.dll", "4.8.0.400"}, {"d3d9.dll", NULL}}, 0x00080000, "8.0"},
        {{{"d3d9.dll", NULL}}, 0x00000000, "0.0"},
    };
    for (const auto& c : cases)
    {
        std::string label;
        for (const Component& component : c.components)
            label += std::string(component.name) + "=" +
                     (component.version ? component.version : "(none)") + " ";
        Release r = ProbeComponents(c.components);
        EXPECT_EQ(S_OK, r.hr) << label;
        EXPECT_EQ(c.version, r.version) << label;
        EXPECT_EQ(c.text, r.text) << label;
    }

    // A folder that cannot exist answers 0.0, like an empty one.
    DWORD major = 1, minor = 1;
    char letter = 'x';
    EXPECT_EQ(S_OK, ProbeFolderFiles(std::string(400, 'a').c_str(), &major, &minor, &letter));
    EXPECT_EQ(0u, major);
    EXPECT_EQ(0u, minor);
    EXPECT_EQ(DX_LETTER_NONE, letter);
}

// Wine's diagnostics provider reports DirectX 9.0c.
TEST(DxVersion, AsksTheDiagnosticsProvider)
{
    DWORD major = 0, minor = 0;
    char letter = 0;
    EXPECT_EQ(S_OK, ProbeDxDiag(&major, &minor, &letter));
    EXPECT_EQ(9u, major);
    EXPECT_EQ(0u, minor);
    EXPECT_EQ('c', letter);

    DWORD version = 0;
    char text[16];
    EXPECT_EQ(S_OK, GetDXVersion(&version, text, sizeof(text)));
    EXPECT_EQ(0x00090003u, version);
    EXPECT_STREQ("9.0c", text);

    // The probe undoes only its own CoInitialize: a caller's COM stays initialised, and a
    // thread without COM is left without it.
    EXPECT_EQ(S_OK, CoInitialize(NULL));
    CoUninitialize();
    ASSERT_EQ(S_OK, CoInitialize(NULL));
    EXPECT_EQ(S_OK, GetDXVersion(&version, NULL, 0));
    EXPECT_EQ(0x00090003u, version);
    EXPECT_EQ(S_FALSE, CoInitialize(NULL));
    CoUninitialize();
    CoUninitialize();

    // The text sizes: cut and terminated, or left alone.
    char small[8];
    memset(small, 'x', sizeof(small));
    EXPECT_EQ(S_OK, GetDXVersion(NULL, small, 3));
    EXPECT_EQ(0, memcmp(small, "9.\0xxxxx", 8)) << std::string(small, 8);
    memset(small, 'x', sizeof(small));
    EXPECT_EQ(S_OK, GetDXVersion(NULL, small, 5));
    EXPECT_EQ(0, memcmp(small, "9.0c\0xxx", 8)) << std::string(small, 8);
    memset(small, 'x', sizeof(small));
    version = 7;
    EXPECT_EQ(S_OK, GetDXVersion(&version, small, 0));
    EXPECT_EQ(S_OK, GetDXVersion(NULL, small, -4));
    EXPECT_EQ(0x00090003u, version);
    EXPECT_EQ(std::string(8, 'x'), std::string(small, 8));
    EXPECT_EQ(S_OK, GetDXVersion(NULL, NULL, 16));
}

// Runs in a child whose Wine has the diagnostics provider disabled, so that the component files
// of the system directory answer.
TEST(DxVersionWithoutProvider, FileProbeAnswers)
{
    if (!InChild())
    {
        std::string log;
        DWORD exitCode = RunInChild("unit_dxversion_nodiag.exe", "DxVersionWithoutProvider.*",
                                    {{"dxdiagn", ""}}, &log);
        EXPECT_EQ(0u, exitCode) << log;
        EXPECT_NE(std::string::npos, log.find("[  PASSED  ] 1 test")) << log;
        return;
    }

    DWORD major = 0, minor = 0;
    char letter = 0;
    EXPECT_EQ(E_FAIL, ProbeDxDiag(&major, &minor, &letter)) << "the provider still answers";

    DWORD fileMajor = 0, fileMinor = 0;
    char fileLetter = 0;
    EXPECT_EQ(S_OK, ProbeSystemFiles(&fileMajor, &fileMinor, &fileLetter));
    EXPECT_EQ(9u, fileMajor);
    EXPECT_EQ(0u, fileMinor);
    EXPECT_EQ(DX_LETTER_NONE, fileLetter);

    // Wine's d3d9.dll has a version record.
    DWORD version = 0;
    char text[16] = "unset";
    EXPECT_EQ(S_OK, GetDXVersion(&version, text, sizeof(text)));
    EXPECT_EQ(0x00090000u, version);
    EXPECT_STREQ("9.0", text);

    // The same through the executable loaded as a library, where the file probe has to load
    // version.dll itself without any start-up code of the executable having run.
    std::string failure;
    HMODULE module = LoadProductAsLibrary(&failure);
    ASSERT_TRUE(module != NULL) << failure;
    PFN_GETDXVERSION getDxVersion = reinterpret_cast<PFN_GETDXVERSION>(
        reinterpret_cast<void*>(GetProcAddress(module, "GetDXVersion")));
    ASSERT_TRUE(getDxVersion != NULL);
    version = 0;
    strcpy(text, "unset");
    EXPECT_EQ(S_OK, getDxVersion(&version, text, sizeof(text)));
    EXPECT_EQ(0x00090000u, version);
    EXPECT_STREQ("9.0", text);
    FreeLibrary(module);
}
