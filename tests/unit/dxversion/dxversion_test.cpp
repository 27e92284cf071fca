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
std::string ProductPath() { return ProgramDir() + "..\\PivoraSetup.exe"; }
std::string Result(const char* text, DWORD version)
{
    char result[48];
    return wsprintfA(result, "%s 0x%08lX", text, version), result;
}

// A DirectX component's stand-in: a copy of the executable with the file version a.b.c.d in its
// version record (the product version left as it is); null: a file without a version record.
bool WriteComponent(const std::string& path, const char* version)
{
    static std::string s_Product;
    unsigned a, b, c, d;
    if (!version || (s_Product.empty() && !ReadFileBytes(ProductPath(), &s_Product)))
        return WriteFileBytes(path, "MZ not really a library") && !version;
    std::string bytes = s_Product;
    // The signature of VS_FIXEDFILEINFO behind the key of the version record (the code may hold
    // the same four bytes).
    const char key[] = "V\0S\0_\0V\0E\0R\0S\0I\0O\0N\0_\0I\0N\0F\0O\0";
    size_t fixed = bytes.find("\xBD\x04\xEF\xFE", bytes.find(std::string(key, sizeof(key) - 1)));
    if (fixed == std::string::npos || sscanf(version, "%u.%u.%u.%u", &a, &b, &c, &d) != 4)
        return false;
    const DWORD fileVersion[2] = {(a << 16) | b, (c << 16) | d};
    return memcpy(&bytes[fixed + 8], fileVersion, sizeof(fileVersion)), WriteFileBytes(path, bytes);
}

// Moves the fixups of an image that LoadLibrary mapped away from its base by that distance,
// where the loader left them: Windows relocates every image that it moves, Wine only DLLs and
// the process's own executable. A fixup is a pointer of the flavour (HIGHLOW in a PE32 image,
// DIR64 in a PE32+ one) into the image: where the image lies once moved, where it was linked to
// lie before (the two never overlap here: this program lies at the executable's own base).
// False for any other fixup.
bool Relocate(BYTE* base, const IMAGE_NT_HEADERS* nt)
{
    const ULONG_PTR delta = reinterpret_cast<ULONG_PTR>(base) - nt->OptionalHeader.ImageBase, size = nt->OptionalHeader.SizeOfImage;
    const IMAGE_DATA_DIRECTORY& relocs = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
    for (DWORD at = 0; delta && at < relocs.Size;)
    {
        const auto* block = reinterpret_cast<const IMAGE_BASE_RELOCATION*>(base + relocs.VirtualAddress + at);
        if (block->SizeOfBlock <= sizeof(*block))
            return false;
        at += block->SizeOfBlock;
        for (auto* entry = reinterpret_cast<const WORD*>(block + 1); entry < reinterpret_cast<const WORD*>(base + relocs.VirtualAddress + at); ++entry)
        {
            ULONG_PTR* slot = reinterpret_cast<ULONG_PTR*>(base + block->VirtualAddress + (*entry & 0xFFF));
            if (*entry >> 12 == IMAGE_REL_BASED_ABSOLUTE || *slot - reinterpret_cast<ULONG_PTR>(base) < size)
                continue;   // padding of the block, or moved by the loader
            if (*entry >> 12 != (sizeof(void*) == 4 ? IMAGE_REL_BASED_HIGHLOW : IMAGE_REL_BASED_DIR64) ||
                *slot - nt->OptionalHeader.ImageBase >= size)
                return false;
            *slot += delta;
        }
    }
    return true;
}

// Binds the imports of an image that LoadLibrary mapped, which the loader does for a DLL but
// not for an executable. False when a DLL or a function is missing.
bool BindImports(BYTE* base, const IMAGE_NT_HEADERS* nt)
{
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* desc = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         imports.Size && desc->Name; ++desc)
    {
        HMODULE dll = LoadLibraryA(reinterpret_cast<const char*>(base + desc->Name));
        auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + desc->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->FirstThunk);
        for (; dll && desc->OriginalFirstThunk && names->u1.AddressOfData; ++names, ++slots)
            if (!(slots->u1.Function = reinterpret_cast<ULONG_PTR>(GetProcAddress(dll, IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)
                    ? MAKEINTRESOURCEA(IMAGE_ORDINAL(names->u1.Ordinal))
                    : reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name))))
                return false;
        if (!dll || !desc->OriginalFirstThunk)
            return false;
    }
    return true;
}

std::string Probed(const char* folder)
{
    DWORD major = 0xFFFF, minor = 0xFFFF;
    char letter = '?', text[16] = "";
    HRESULT hr = ProbeFolderFiles(folder, &major, &minor, &letter);
    StoreDxVersion(major, minor, letter, NULL, text, sizeof(text));
    return hr == S_OK ? text : "failed";
}
} // namespace

TEST(DxVersion, StoresAndComparesVersions)
{
    // Capital letters are lowered; a character that is not a letter adds nothing to the number.
    const struct { DWORD major, minor; char letter; const char* expected; } cases[] = {{9, 0, 'C', "9.0c 0x00090003"},
        {9, 0, ' ', "9.0 0x00090000"}, {6, 1, 'z', "6.1z 0x0006011A"}, {9, 0, '!', "9.0! 0x00090000"}, {10, 12, 'a', "10.12a 0x000A0C01"}};
    for (const auto& c : cases)
    {
        DWORD version = 0xDEADBEEF;
        char text[16];
        StoreDxVersion(c.major, c.minor, c.letter, &version, text, sizeof(text));
        EXPECT_EQ(c.expected, Result(text, version));
    }
    // The text cut and terminated, or left alone; a null version is skipped.
    const struct { int size; const char* expected; } sizes[] = {{3, "9.\0xxxxx"}, {5, "9.0c\0xxx"}, {0, "xxxxxxxx"}, {-4, "xxxxxxxx"}};
    for (const auto& c : sizes)
    {
        char small[9] = "xxxxxxxx";
        StoreDxVersion(9, 0, 'c', NULL, small, c.size);
        EXPECT_EQ(std::string(c.expected, 8), std::string(small, 8)) << c.size;
    }
    // Both halves compare unsigned: a top bit makes a version larger, not negative.
    const struct { ULONGLONG a, b; int order; } orders[] = {{0x0004000700000200ULL, 0x0004000700000200ULL, 0},
        {0x0004000700000201ULL, 0x0004000700000200ULL, 1}, {0x0004000600FFFFFFULL, 0x0004000700000000ULL, -1},
        {0x0000000180000000ULL, 0x0000000100000001ULL, 1}, {0x7FFFFFFFFFFFFFFFULL, 0x8000000000000000ULL, -1}};
    for (const auto& o : orders)
        EXPECT_EQ(o.order, CompareVersions(o.a, o.b)) << std::hex << o.a << " " << o.b;

    ULONGLONG version = 42;
    EXPECT_TRUE(ReadFileVersion(NULL, &version) == E_INVALIDARG && ReadFileVersion(ProductPath().c_str(), NULL) == E_INVALIDARG);
}

// Wine's diagnostics provider reports DirectX 9.0c. The probe undoes only its own CoInitialize:
// a thread without COM is left without it, and a caller's COM stays initialised.
TEST(DxVersion, AsksTheDiagnosticsProvider)
{
    DWORD version = 0;
    char text[16];
    EXPECT_EQ(S_OK, GetDXVersion(&version, text, sizeof(text)));
    EXPECT_EQ("9.0c 0x00090003", Result(text, version));
    ASSERT_EQ(S_OK, CoInitialize(NULL));
    EXPECT_EQ(S_OK, GetDXVersion(&version, NULL, 16));
    EXPECT_EQ(S_FALSE, CoInitialize(NULL));
    CoUninitialize();
    CoUninitialize();
}

// Without the provider the release is inferred from the component files: first from folders of
// stand-ins, then from the system directory, where Wine's d3d9.dll has a version record.
TEST(DxVersionWithoutProvider, InfersReleaseFromComponentsAndExportsIt)
{
    // Run in a copy of this program that Wine starts without the provider and with the DirectX
    // DLLs native (Wine answers the version record of its own DLL for any file named like one of
    // them, wherever it lies).
    if (!IsTestCopy())
    {
        EXPECT_EQ(0, RunTestInCopy("unit_dxversion_child.exe", "\\DllOverrides", {{"dxdiagn", ""}, {"ddraw", "native"},
            {"dinput", "native"}, {"d3d8", "native"}, {"d3d9", "native"}, {"dpnet", "native"}, {"dplayx", "native"}}));
        return;
    }
    // Files placed (a null version: a file without a version record), release found. Releases at
    // their components' versions, some just below; major 6 passes every plain comparison but is
    // neither DirectX 8 form. Any readable d3d9.dll means 9.0, whatever its version; an
    // unreadable one leaves the release found so far.
    const struct { std::vector<std::pair<const char*, const char*>> files; const char* text; } cases[] = {
        {{{"ddraw.dll", "4.2.0.95"}}, "1.0"}, {{{"ddraw.dll", "4.7.0.699"}}, "6.1"},
        {{{"ddraw.dll", "4.7.0.700"}, {"dinput.dll", "4.7.0.716"}}, "7.0a"}, {{{"d3drg8x.dll", "4.4.0.70"}}, "3.0a"},
        {{{"dplayx.dll", "4.6.3.518"}}, "6.1a"}, {{{"ddraw.dll", "6.0.0.0"}}, "7.0"},
        {{{"ddraw.dll", "5.1.2258.400"}}, "8.0"}, {{{"ddraw.dll", "4.8.0.400"}, {"d3d8.dll", "5.1.2600.881"}}, "8.1"},
        {{{"ddraw.dll", "4.8.0.400"}, {"d3d8.dll", "4.8.1.901"}}, "8.1a"}, {{{"ddraw.dll", "4.8.0.400"}, {"d3d8.dll", "6.0.0.0"}}, "8.0"},
        {{{"ddraw.dll", "4.8.0.400"}, {"mpg2splt.ax", "6.3.1.885"}}, "8.1b"}, {{{"dpnet.dll", "4.9.0.134"}}, "8.2"},
        {{{"ddraw.dll", "4.8.0.400"}, {"dpnet.dll", "5.2.3677.133"}}, "8.0"}, {{{"dinput.dll", "4.7.0.716"}, {"d3d9.dll", "1.0.0.0"}}, "9.0"},
        {{{"ddraw.dll", "4.8.0.400"}, {"d3d9.dll", NULL}}, "8.0"}};
    for (const auto& c : cases)
    {
        std::string folder = MakeTempDir("dxv"), label;
        for (const auto& f : c.files)
        {
            label += std::string(f.first) + "=" + (f.second ? f.second : "(none)") + " ";
            EXPECT_TRUE(WriteComponent(folder + f.first, f.second)) << label;
        }
        EXPECT_EQ(c.text, Probed(folder.substr(0, folder.size() - 1).c_str())) << label;
        RemoveTree(folder);
    }
    EXPECT_EQ("0.0", Probed(std::string(400, 'a').c_str())) << "a folder that cannot exist";

    DWORD major, minor, version = 0;
    char letter, text[16];
    EXPECT_EQ(E_FAIL, ProbeDxDiag(&major, &minor, &letter)) << "the provider still answers";
    EXPECT_EQ(S_OK, GetDXVersion(&version, text, sizeof(text)));
    EXPECT_EQ("9.0 0x00090000", Result(text, version));
    for (int size : {0, -4})
        EXPECT_TRUE(GetDXVersion(NULL, strcpy(text, "unset"), size) == S_OK && !strcmp(text, "unset")) << size << text;

    // The executable exports exactly one name, GetDXVersion, undecorated. A caller loads it as a
    // library wherever the loader places it, makes it ready to call into and calls the export,
    // with no start-up code of the executable having run. This program is linked at the base of
    // the executable (0x00400000, where every 32-bit executable is linked, 0x140000000 for a
    // 64-bit one of this tool chain), so the executable lands elsewhere in either flavour.
    HMODULE module = LoadLibraryA(ProductPath().c_str());
    ASSERT_TRUE(module != NULL) << "error " << GetLastError();
    BYTE* base = reinterpret_cast<BYTE*>(module);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    // PE32 in the 32-bit build, PE32+ in the 64-bit one: each reads with its own
    // IMAGE_NT_HEADERS and IMAGE_THUNK_DATA.
    EXPECT_EQ(sizeof(void*) == 4 ? IMAGE_NT_OPTIONAL_HDR32_MAGIC : IMAGE_NT_OPTIONAL_HDR64_MAGIC, nt->OptionalHeader.Magic);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    const IMAGE_EXPORT_DIRECTORY* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    ASSERT_NE(0u, dir.Size) << "no export table";
    EXPECT_EQ("1 1 GetDXVersion", std::to_string(exports->NumberOfNames) + " " + std::to_string(exports->NumberOfFunctions) +
              " " + reinterpret_cast<const char*>(base + reinterpret_cast<const DWORD*>(base + exports->AddressOfNames)[0]));
    DWORD protect = 0;
    ASSERT_TRUE(VirtualProtect(base, nt->OptionalHeader.SizeOfImage, PAGE_EXECUTE_READWRITE, &protect));
    ASSERT_TRUE(Relocate(base, nt)) << "a fixup that is no address in the image";
    ASSERT_TRUE(BindImports(base, nt));
    auto getDxVersion = reinterpret_cast<PFN_GETDXVERSION>(reinterpret_cast<void*>(GetProcAddress(module, "GetDXVersion")));
    ASSERT_TRUE(getDxVersion && ULONG_PTR(reinterpret_cast<BYTE*>(getDxVersion) - base) < nt->OptionalHeader.SizeOfImage)
        << "not code of the executable";
    version = 0;
    EXPECT_EQ(S_OK, getDxVersion(&version, text, sizeof(text)));
    EXPECT_EQ("9.0 0x00090000", Result(text, version));
    FreeLibrary(module);
}
