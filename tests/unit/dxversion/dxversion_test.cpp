// GetDXVersion: its two probes, and the export as a caller that loads the executable as a
// library finds it.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <stdio.h>
#include <string>
#include <vector>
#include "common/TestSupport.h"
#include "dxversion/DxProbe.h"
#include "dxversion/DxVersion.h"

namespace
{
typedef std::vector<std::pair<const char*, const char*>> LoadOrders;

// Wine answers the version record of its own DLL for any file named like one of its DLLs,
// wherever the file lies, unless that DLL is set to native.
const LoadOrders kWithoutProvider = {{"dxdiagn", ""}, {"ddraw", "native"}, {"dinput", "native"},
    {"d3d8", "native"}, {"d3d9", "native"}, {"dpnet", "native"}, {"dplayx", "native"}};

std::string ProductPath()
{
    return ProgramDir() + "..\\PivoraSetup.exe";
}

// A DirectX component's stand-in: a copy of the executable with the file version a.b.c.d in its
// version record (the product version left as it is); null: a file without a version record.
bool WriteComponent(const std::string& path, const char* version)
{
    static std::string s_Product;
    if (!version)
        return WriteFileBytes(path, "MZ not really a library");
    unsigned a, b, c, d;
    if (s_Product.empty() && !ReadFileBytes(ProductPath(), &s_Product))
        return false;
    std::string bytes = s_Product;
    size_t fixed = bytes.find("\xBD\x04\xEF\xFE");   // the signature of VS_FIXEDFILEINFO
    if (fixed == std::string::npos || sscanf(version, "%u.%u.%u.%u", &a, &b, &c, &d) != 4)
        return false;
    const DWORD fileVersion[2] = {(a << 16) | b, (c << 16) | d};
    memcpy(&bytes[fixed + 8], fileVersion, sizeof(fileVersion));
    return WriteFileBytes(path, bytes);
}

// In the parent: runs the calling test in a copy of this program, which Wine starts with the
// given DLL load orders ("" disables a DLL), expects it to pass there and answers true; the
// child's output joins ours. Wine gives every child its own WINEDLLOVERRIDES from the Unix
// side, so the orders go through the per-program registry key. In the child: false.
bool RanInChild(const LoadOrders& loadOrders)
{
    if (getenv("PIVORA_DXVERSION_CHILD"))
        return false;
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string copy = ProgramDir() + "unit_dxversion_child.exe";
    std::string key = "Software\\Wine\\AppDefaults\\unit_dxversion_child.exe";
    std::string line = "\"" + copy + "\" --gtest_filter=" + test->test_suite_name() + "." + test->name();
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, sizeof(self));
    EXPECT_TRUE(CopyFileA(self, copy.c_str(), FALSE));
    for (const auto& order : loadOrders)
        RegSetKeyValueA(HKEY_CURRENT_USER, (key + "\\DllOverrides").c_str(), order.first, REG_SZ,
                        order.second, DWORD(strlen(order.second) + 1));
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    DWORD exitCode = 0xDEAD0001;
    SetEnvironmentVariableA("PIVORA_DXVERSION_CHILD", "1");
    if (CreateProcessA(copy.c_str(), &line[0], NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process))
    {
        if (WaitForSingleObject(process.hProcess, 120000) != WAIT_OBJECT_0)
            TerminateProcess(process.hProcess, 0xDEAD0002);
        WaitForSingleObject(process.hProcess, 5000);
        GetExitCodeProcess(process.hProcess, &exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    SetEnvironmentVariableA("PIVORA_DXVERSION_CHILD", NULL);
    RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
    DeleteFileA(copy.c_str());
    EXPECT_EQ(0u, exitCode) << line;
    return true;
}

// Binds the imports of an image that LoadLibrary mapped, which the loader does for a DLL but
// not for an executable. False when a DLL or a function is missing.
bool BindImports(BYTE* base, const IMAGE_NT_HEADERS* nt)
{
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    DWORD oldProtect = 0;
    VirtualProtect(base, nt->OptionalHeader.SizeOfImage, PAGE_EXECUTE_READWRITE, &oldProtect);
    for (auto* desc = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         imports.Size && desc->Name; ++desc)
    {
        HMODULE dll = LoadLibraryA(reinterpret_cast<const char*>(base + desc->Name));
        if (!dll || !desc->OriginalFirstThunk)
            return false;
        auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + desc->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots)
        {
            const char* name = IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)
                ? MAKEINTRESOURCEA(IMAGE_ORDINAL(names->u1.Ordinal))
                : reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name;
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(GetProcAddress(dll, name));
            if (!slots->u1.Function)
                return false;
        }
    }
    return true;
}
} // namespace

TEST(DxVersion, StoresComparesAndReadsVersions)
{
    const struct { DWORD major, minor; char letter; DWORD version; const char* text; } cases[] = {
        {9, 0, 'C', 0x00090003, "9.0c"}, {9, 0, ' ', 0x00090000, "9.0"}, {6, 1, 'z', 0x0006011A, "6.1z"},
        {9, 0, '!', 0x00090000, "9.0!"},   // not a letter: nothing in the number, kept in the text
        {10, 12, 'a', 0x000A0C01, "10.12a"}};
    for (const auto& c : cases)
    {
        DWORD version = 0xDEADBEEF;
        char text[16];
        StoreDxVersion(c.major, c.minor, c.letter, &version, text, sizeof(text));
        EXPECT_EQ(c.version, version) << c.text;
        EXPECT_STREQ(c.text, text);
    }
    // The text cut and terminated, or left alone; a null version is skipped.
    const struct { int size; const char* expected; } sizes[] = {
        {3, "9.\0xxxxx"}, {5, "9.0c\0xxx"}, {0, "xxxxxxxx"}, {-4, "xxxxxxxx"}};
    for (const auto& c : sizes)
    {
        char small[8];
        memset(small, 'x', sizeof(small));
        StoreDxVersion(9, 0, 'c', NULL, small, c.size);
        EXPECT_EQ(std::string(c.expected, 8), std::string(small, 8)) << c.size;
    }

    // Both halves compare unsigned: a top bit makes a version larger, not negative.
    EXPECT_EQ(0, CompareVersions(0x0004000700000200ULL, 0x0004000700000200ULL));
    EXPECT_EQ(1, CompareVersions(0x0004000700000201ULL, 0x0004000700000200ULL));
    EXPECT_EQ(-1, CompareVersions(0x0004000600FFFFFFULL, 0x0004000700000000ULL));
    EXPECT_EQ(1, CompareVersions(0x0000000180000000ULL, 0x0000000100000001ULL));
    EXPECT_EQ(-1, CompareVersions(0x7FFFFFFFFFFFFFFFULL, 0x8000000000000000ULL));

    std::string folder = MakeTempDir("dxv"), component = folder + "component.dll";
    ULONGLONG version = 0;
    ASSERT_TRUE(WriteComponent(component, "5.1.2600.881"));
    EXPECT_EQ(S_OK, ReadFileVersion(component.c_str(), &version));
    EXPECT_EQ(0x00050001'0A280371ULL, version) << "the file version, not the product's";
    EXPECT_EQ(E_INVALIDARG, ReadFileVersion(NULL, &version));
    EXPECT_EQ(E_INVALIDARG, ReadFileVersion(component.c_str(), NULL));
    version = 42;
    EXPECT_EQ(E_FAIL, ReadFileVersion((folder + "missing.dll").c_str(), &version));
    EXPECT_EQ(42u, version);
    RemoveTree(folder);
}

// Wine's diagnostics provider reports DirectX 9.0c. The probe undoes only its own CoInitialize:
// a thread without COM is left without it, and a caller's COM stays initialised.
TEST(DxVersion, AsksTheDiagnosticsProvider)
{
    DWORD version = 0;
    char text[16];
    EXPECT_EQ(S_OK, GetDXVersion(&version, text, sizeof(text)));
    EXPECT_EQ(0x00090003u, version);
    EXPECT_STREQ("9.0c", text);
    ASSERT_EQ(S_OK, CoInitialize(NULL));
    EXPECT_EQ(S_OK, GetDXVersion(&version, NULL, 16));
    EXPECT_EQ(S_FALSE, CoInitialize(NULL));
    CoUninitialize();
    CoUninitialize();
}

// Without the provider the release is inferred from the component files: first from folders of
// stand-ins, then from the system directory, where Wine's d3d9.dll has a version record.
TEST(DxVersionWithoutProvider, InfersReleaseFromComponentVersions)
{
    if (RanInChild(kWithoutProvider))
        return;
    // Files placed (a null version: a file without a version record), release found.
    const struct { std::vector<std::pair<const char*, const char*>> files; const char* text; } cases[] = {
        // Each release at its component's version and just below it.
        {{{"ddraw.dll", "4.2.0.94"}}, "0.0"},
        {{{"ddraw.dll", "4.2.0.95"}}, "1.0"},
        {{{"ddraw.dll", "4.7.0.699"}}, "6.1"},
        {{{"ddraw.dll", "4.7.0.700"}, {"dinput.dll", "4.7.0.715"}}, "7.0"},
        {{{"ddraw.dll", "4.7.0.700"}, {"dinput.dll", "4.7.0.716"}}, "7.0a"},
        {{{"d3drg8x.dll", "4.4.0.70"}}, "3.0a"},
        {{{"dplayx.dll", "4.6.3.518"}}, "6.1a"},
        // Major 6 passes every plain comparison but is neither DirectX 8 form.
        {{{"ddraw.dll", "6.0.0.0"}}, "7.0"},
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
        {{{"dinput.dll", "4.7.0.716"}, {"d3d9.dll", "1.0.0.0"}}, "9.0"},
        {{{"ddraw.dll", "4.8.0.400"}, {"d3d9.dll", NULL}}, "8.0"},
    };
    for (const auto& c : cases)
    {
        std::string folder = MakeTempDir("dxv"), label;
        for (const auto& f : c.files)
        {
            label += std::string(f.first) + "=" + (f.second ? f.second : "(none)") + " ";
            EXPECT_TRUE(WriteComponent(folder + f.first, f.second)) << label;
        }
        DWORD major = 0xFFFF, minor = 0xFFFF, version = 0;
        char letter = '?', text[16];
        EXPECT_EQ(S_OK, ProbeFolderFiles(folder.substr(0, folder.size() - 1).c_str(), &major,
                                         &minor, &letter)) << label;
        StoreDxVersion(major, minor, letter, &version, text, sizeof(text));
        EXPECT_STREQ(c.text, text) << label;
        RemoveTree(folder);
    }
    // A folder that cannot exist answers 0.0, like an empty one.
    DWORD major = 1, minor = 1, version = 0;
    char letter = 'x', text[16] = "unset";
    EXPECT_EQ(S_OK, ProbeFolderFiles(std::string(400, 'a').c_str(), &major, &minor, &letter));
    EXPECT_EQ("0.0' '", std::to_string(major) + "." + std::to_string(minor) + "'" + letter + "'");

    EXPECT_EQ(E_FAIL, ProbeDxDiag(&major, &minor, &letter)) << "the provider still answers";
    EXPECT_EQ(S_OK, GetDXVersion(&version, text, sizeof(text)));
    EXPECT_EQ(0x00090000u, version);
    EXPECT_STREQ("9.0", text);
    for (int size : {0, -4})
    {
        strcpy(text, "unset");
        EXPECT_EQ(S_OK, GetDXVersion(NULL, text, size));
        EXPECT_STREQ("unset", text) << size;
    }
}

// The executable exports exactly one name, GetDXVersion, undecorated. A caller loads it as a
// library, at its own base (this program sits elsewhere), binds its imports and calls the
// export, with no start-up code of the executable having run.
TEST(DxVersionWithoutProvider, ExportedAndCallable)
{
    if (RanInChild(kWithoutProvider))
        return;
    HMODULE module = LoadLibraryA(ProductPath().c_str());
    ASSERT_TRUE(module != NULL) << "error " << GetLastError();
    BYTE* base = reinterpret_cast<BYTE*>(module);
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    // PE32 in the 32-bit build, PE32+ in the 64-bit one: each reads with its own
    // IMAGE_NT_HEADERS and IMAGE_THUNK_DATA.
    EXPECT_EQ(sizeof(void*) == 4 ? IMAGE_NT_OPTIONAL_HDR32_MAGIC : IMAGE_NT_OPTIONAL_HDR64_MAGIC,
              nt->OptionalHeader.Magic);
    ASSERT_EQ(reinterpret_cast<ULONG_PTR>(base), nt->OptionalHeader.ImageBase)
        << "not at its own base, where nothing needs moving";
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    const IMAGE_EXPORT_DIRECTORY* exports =
        reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    ASSERT_NE(0u, dir.Size) << "no export table";
    EXPECT_EQ(1u, exports->NumberOfNames);
    EXPECT_EQ(1u, exports->NumberOfFunctions);
    EXPECT_STREQ("GetDXVersion", reinterpret_cast<const char*>(
        base + reinterpret_cast<const DWORD*>(base + exports->AddressOfNames)[0]));

    ASSERT_TRUE(BindImports(base, nt));
    PFN_GETDXVERSION getDxVersion =
        reinterpret_cast<PFN_GETDXVERSION>(reinterpret_cast<void*>(GetProcAddress(module, "GetDXVersion")));
    ASSERT_TRUE(getDxVersion != NULL);
    EXPECT_LT(ULONG_PTR(reinterpret_cast<BYTE*>(getDxVersion) - base), nt->OptionalHeader.SizeOfImage)
        << "not code of the executable";
    DWORD version = 0;
    char text[16] = "unset";
    EXPECT_EQ(S_OK, getDxVersion(&version, text, sizeof(text)));
    EXPECT_EQ(0x00090000u, version);
    EXPECT_STREQ("9.0", text);
    FreeLibrary(module);
}
