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
const char kChildMark[] = "PIVORA_DXVERSION_CHILD";     // set in the environment of a child run

std::string ComponentDll(const char* version)
{
    return ProgramDir() + "dxver\\v" + version + ".dll";
}

// In the parent: runs the calling test in a copy of this program named exeName, which Wine
// starts with the given DLL load orders ("" disables a DLL), checks that it passed there and
// answers true; the child's output joins ours. Wine gives every child its own WINEDLLOVERRIDES
// from the Unix side, so the orders go through the per-program registry key. In the child: false.
bool RanInChild(const char* exeName, const std::vector<std::pair<const char*, const char*>>& loadOrders)
{
    if (getenv(kChildMark))
        return false;
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string copy = ProgramDir() + exeName, commandLine = "\"" + copy + "\" --gtest_filter=" +
                                                           test->test_suite_name() + "." + test->name();
    std::string keyPath = std::string("Software\\Wine\\AppDefaults\\") + exeName;
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, sizeof(self));
    HKEY key = NULL;
    DWORD exitCode = 0xDEAD0001;
    if (CopyFileA(self, copy.c_str(), FALSE) &&
        RegCreateKeyExA(HKEY_CURRENT_USER, (keyPath + "\\DllOverrides").c_str(), 0, NULL, 0,
                        KEY_SET_VALUE, NULL, &key, NULL) == ERROR_SUCCESS)
    {
        for (const auto& order : loadOrders)
            RegSetValueExA(key, order.first, 0, REG_SZ, reinterpret_cast<const BYTE*>(order.second),
                           DWORD(strlen(order.second) + 1));
        RegCloseKey(key);
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process = {};
        SetEnvironmentVariableA(kChildMark, "1");
        if (CreateProcessA(copy.c_str(), &commandLine[0], NULL, NULL, TRUE, 0, NULL, NULL, &startup,
                           &process))
        {
            if (WaitForSingleObject(process.hProcess, 120000) != WAIT_OBJECT_0)
            {
                TerminateProcess(process.hProcess, 0xDEAD0002);
                WaitForSingleObject(process.hProcess, 5000);
            }
            GetExitCodeProcess(process.hProcess, &exitCode);
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
        SetEnvironmentVariableA(kChildMark, NULL);
    }
    RegDeleteTreeA(HKEY_CURRENT_USER, keyPath.c_str());
    DeleteFileA(copy.c_str());
    EXPECT_EQ(0u, exitCode) << commandLine;
    return true;
}
} // namespace

TEST(DxVersion, StoresAndComparesVersions)
{
    const struct { DWORD major, minor; char letter; DWORD version; const char* text; } cases[] = {
        {9, 0, 'c', 0x00090003, "9.0c"}, {9, 0, 'C', 0x00090003, "9.0c"},
        {9, 0, ' ', 0x00090000, "9.0"}, {8, 1, 'b', 0x00080102, "8.1b"},
        {6, 1, 'z', 0x0006011A, "6.1z"}, {0, 0, ' ', 0x00000000, "0.0"},
        {9, 0, '!', 0x00090000, "9.0!"},   // not a letter: nothing in the number, kept in the text
        {10, 12, 'a', 0x000A0C01, "10.12a"}};
    for (const auto& c : cases)
    {
        DWORD version = 0xDEADBEEF;
        char text[16];
        memset(text, 'x', sizeof(text));
        StoreDxVersion(c.major, c.minor, c.letter, &version, text, sizeof(text));
        EXPECT_EQ(c.version, version) << c.major << "." << c.minor << "'" << c.letter << "'";
        EXPECT_STREQ(c.text, text) << c.major << "." << c.minor << "'" << c.letter << "'";
    }

    // Both halves compare unsigned: a top bit makes a version larger, not negative.
    EXPECT_EQ(0, CompareVersions(0x0004000700000200ULL, 0x0004000700000200ULL));
    EXPECT_EQ(1, CompareVersions(0x0004000700000201ULL, 0x0004000700000200ULL));
    EXPECT_EQ(-1, CompareVersions(0x0004000600FFFFFFULL, 0x0004000700000000ULL));
    EXPECT_EQ(1, CompareVersions(0x0000000180000000ULL, 0x0000000100000001ULL));
    EXPECT_EQ(-1, CompareVersions(0x7FFFFFFFFFFFFFFFULL, 0x8000000000000000ULL));

    ULONGLONG version = 0;
    EXPECT_EQ(S_OK, ReadFileVersion(ComponentDll("5.1.2600.881").c_str(), &version));
    EXPECT_EQ(0x00050001'0A280371ULL, version);
    EXPECT_EQ(E_INVALIDARG, ReadFileVersion(NULL, &version));
    EXPECT_EQ(E_INVALIDARG, ReadFileVersion(ComponentDll("1.0.0.0").c_str(), NULL));
    version = 42;                                       // files without a record: the table below
    EXPECT_EQ(E_FAIL, ReadFileVersion(ComponentDll("missing").c_str(), &version));
    EXPECT_EQ(42u, version);
}

// Wine answers the version record of its own DLL for any file named like one of its DLLs,
// wherever the file lies, unless that DLL is set to native: so the table runs in a child with
// the DirectX components set to native.
TEST(DxVersionFiles, InfersReleaseFromComponentVersions)
{
    if (RanInChild("unit_dxversion_nativedx.exe", {{"ddraw", "native"}, {"dinput", "native"},
                   {"d3d8", "native"}, {"d3d9", "native"}, {"dpnet", "native"}, {"dplayx", "native"}}))
        return;

    // Files placed (a null version: a file without a version record), release found.
    const struct { std::vector<std::pair<const char*, const char*>> files; const char* text; } cases[] = {
        {{}, "0.0"},
        {{{"ddraw.dll", "4.2.0.94"}}, "0.0"},
        {{{"ddraw.dll", "4.2.0.95"}}, "1.0"},
        {{{"ddraw.dll", "4.7.0.699"}}, "6.1"},
        {{{"ddraw.dll", "4.7.0.700"}, {"dinput.dll", "4.7.0.716"}}, "7.0a"},
        {{{"ddraw.dll", "4.7.0.700"}, {"dinput.dll", "4.7.0.715"}}, "7.0"},
        {{{"dinput.dll", "4.7.0.716"}}, "7.0a"},
        {{{"d3drg8x.dll", "4.4.0.70"}}, "3.0a"},
        {{{"dplayx.dll", "4.6.3.518"}}, "6.1a"},
        // Major 6 passes every plain comparison but is neither DirectX 8 form.
        {{{"ddraw.dll", "6.0.0.0"}}, "7.0"},
        {{{"ddraw.dll", "4.8.0.400"}}, "8.0"},
        {{{"ddraw.dll", "5.1.2258.399"}}, "7.0"},
        {{{"ddraw.dll", "5.1.2258.400"}}, "8.0"},
        {{{"ddraw.dll", "4.8.0.400"}, {"d3d8.dll", "5.1.2600.881"}}, "8.1"},
        {{{"ddraw.dll", "4.8.0.400"}, {"d3d8.dll", "4.8.1.901"}}, "8.1a"},
        {{{"ddraw.dll", "4.8.0.400"}, {"d3d8.dll", "6.0.0.0"}}, "8.0"},
        {{{"ddraw.dll", "4.8.0.400"}, {"mpg2splt.ax", "6.3.1.885"}}, "8.1b"},
        {{{"dpnet.dll", "4.9.0.134"}}, "8.2"},
        {{{"ddraw.dll", "4.8.0.400"}, {"dpnet.dll", "5.2.3677.133"}}, "8.0"},
        // Any readable d3d9.dll means 9.0, whatever its version and whatever came before; an
        // unreadable one leaves the release found so far.
        {{{"d3d9.dll", "1.0.0.0"}}, "9.0"},
        {{{"ddraw.dll", "6.0.0.0"}, {"dinput.dll", "4.7.0.716"}, {"d3d9.dll", "1.0.0.0"}}, "9.0"},
        {{{"ddraw.dll", "4.8.0.400"}, {"d3d9.dll", NULL}}, "8.0"},
        {{{"d3d9.dll", NULL}}, "0.0"},
    };
    for (const auto& c : cases)
    {
        std::string folder = MakeTempDir("dxv"), label;
        for (const auto& f : c.files)
        {
            label += std::string(f.first) + "=" + (f.second ? f.second : "(none)") + " ";
            std::string target = folder + f.first;
            EXPECT_TRUE(f.second ? CopyFileA(ComponentDll(f.second).c_str(), target.c_str(), FALSE)
                                 : WriteFileBytes(target, "MZ not really a library")) << label;
        }
        DWORD major = 0xFFFF, minor = 0xFFFF, version = 0;
        char letter = '?', text[16];
        EXPECT_EQ(S_OK, ProbeFolderFiles(folder.substr(0, folder.size() - 1).c_str(), &major, &minor,
                                         &letter)) << label;
        StoreDxVersion(major, minor, letter, &version, text, sizeof(text));
        EXPECT_STREQ(c.text, text) << label;
        RemoveTree(folder);
    }

    // A folder that cannot exist answers 0.0, like an empty one.
    DWORD major = 1, minor = 1;
    char letter = 'x';
    EXPECT_EQ(S_OK, ProbeFolderFiles(std::string(400, 'a').c_str(), &major, &minor, &letter));
    EXPECT_EQ("0.0' '", std::to_string(major) + "." + std::to_string(minor) + "'" + letter + "'");
}

// Wine's diagnostics provider reports DirectX 9.0c.
TEST(DxVersion, AsksTheDiagnosticsProvider)
{
    DWORD major = 0, minor = 0, version = 0;
    char letter = 0, text[16];
    EXPECT_EQ(S_OK, ProbeDxDiag(&major, &minor, &letter));
    EXPECT_EQ("9.0'c'", std::to_string(major) + "." + std::to_string(minor) + "'" + letter + "'");
    EXPECT_EQ(S_OK, GetDXVersion(&version, text, sizeof(text)));
    EXPECT_EQ(0x00090003u, version);
    EXPECT_STREQ("9.0c", text);

    // The probe undoes only its own CoInitialize: a caller's COM stays initialised, and a
    // thread without COM is left without it.
    EXPECT_EQ(S_OK, CoInitialize(NULL));
    CoUninitialize();
    ASSERT_EQ(S_OK, CoInitialize(NULL));
    EXPECT_EQ(S_OK, GetDXVersion(&version, NULL, 0));
    EXPECT_EQ(S_FALSE, CoInitialize(NULL));
    CoUninitialize();
    CoUninitialize();

    // The text sizes: cut and terminated, or left alone; null pointers are skipped.
    const struct { int size; const char* expected; } sizes[] = {
        {3, "9.\0xxxxx"}, {5, "9.0c\0xxx"}, {0, "xxxxxxxx"}, {-4, "xxxxxxxx"}};
    for (const auto& c : sizes)
    {
        char small[8];
        memset(small, 'x', sizeof(small));
        version = 7;
        EXPECT_EQ(S_OK, GetDXVersion(&version, small, c.size));
        EXPECT_EQ(std::string(c.expected, 8), std::string(small, 8)) << c.size;
        EXPECT_EQ(0x00090003u, version) << c.size;
    }
    EXPECT_EQ(S_OK, GetDXVersion(NULL, NULL, 16));
}

// Runs in a child whose Wine has the diagnostics provider disabled, so that the component files
// of the system directory answer: Wine's d3d9.dll has a version record.
TEST(DxVersionWithoutProvider, FileProbeAnswers)
{
    if (RanInChild("unit_dxversion_nodiag.exe", {{"dxdiagn", ""}}))
        return;
    DWORD major = 0, minor = 0, version = 0;
    char letter = 0, text[16] = "unset";
    EXPECT_EQ(E_FAIL, ProbeDxDiag(&major, &minor, &letter)) << "the provider still answers";
    EXPECT_EQ(S_OK, ProbeSystemFiles(&major, &minor, &letter));
    EXPECT_EQ("9.0' '", std::to_string(major) + "." + std::to_string(minor) + "'" + letter + "'");
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
