#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>
#include "common/TestSupport.h"
#include "dxversion/DxVersion.h"
#include "ProductImage.h"

namespace
{

std::string ProductPath()
{
    return TestsDir() + "..\\PivoraSetup.exe";
}

// The headers of a PE file read into memory, with RVA-to-offset translation.
struct PeFile
{
    std::string bytes;
    const IMAGE_NT_HEADERS32* nt = NULL;
    const IMAGE_SECTION_HEADER* sections = NULL;

    bool Load(const std::string& path)
    {
        if (!ReadFileBytes(path, &bytes) || bytes.size() < sizeof(IMAGE_DOS_HEADER))
            return false;
        const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes.data());
        if (dos->e_magic != IMAGE_DOS_SIGNATURE ||
            size_t(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS32) > bytes.size())
            return false;
        nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(bytes.data() + dos->e_lfanew);
        sections = IMAGE_FIRST_SECTION(nt);
        return nt->Signature == IMAGE_NT_SIGNATURE &&
               nt->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC;
    }

    const IMAGE_SECTION_HEADER* SectionOf(DWORD rva) const
    {
        for (int i = 0; i < nt->FileHeader.NumberOfSections; ++i)
        {
            const IMAGE_SECTION_HEADER& s = sections[i];
            DWORD size = s.Misc.VirtualSize ? s.Misc.VirtualSize : s.SizeOfRawData;
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + size)
                return &s;
        }
        return NULL;
    }

    const void* At(DWORD rva) const
    {
        const IMAGE_SECTION_HEADER* s = SectionOf(rva);
        if (!s || rva - s->VirtualAddress >= s->SizeOfRawData)
            return NULL;
        size_t offset = s->PointerToRawData + (rva - s->VirtualAddress);
        return offset < bytes.size() ? bytes.data() + offset : NULL;
    }
};

// Writes one pointer-sized value into a mapped image, whatever the page's protection.
void Patch(void* where, DWORD value)
{
    DWORD oldProtect = 0;
    VirtualProtect(where, sizeof(DWORD), PAGE_EXECUTE_READWRITE, &oldProtect);
    *static_cast<DWORD*>(where) = value;
    VirtualProtect(where, sizeof(DWORD), oldProtect, &oldProtect);
}

// What the loader does for a DLL but not for an executable loaded as a library: moves the
// image's addresses to where it was mapped and binds its imports. Already done parts are
// left alone.
::testing::AssertionResult PrepareLoadedImage(HMODULE module)
{
    BYTE* base = reinterpret_cast<BYTE*>(module);
    const IMAGE_NT_HEADERS32* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);

    DWORD delta = DWORD(reinterpret_cast<ULONG_PTR>(base)) - nt->OptionalHeader.ImageBase;
    if (delta)
    {
        const IMAGE_DATA_DIRECTORY& dir =
            nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
        if (!dir.Size)
            return ::testing::AssertionFailure() << "mapped away from its base, no relocations";
        BYTE* block = base + dir.VirtualAddress;
        BYTE* end = block + dir.Size;
        while (block < end)
        {
            const IMAGE_BASE_RELOCATION* reloc = reinterpret_cast<IMAGE_BASE_RELOCATION*>(block);
            if (reloc->SizeOfBlock < sizeof(IMAGE_BASE_RELOCATION))
                break;
            const WORD* entries = reinterpret_cast<const WORD*>(reloc + 1);
            DWORD count = (reloc->SizeOfBlock - sizeof(IMAGE_BASE_RELOCATION)) / sizeof(WORD);
            for (DWORD i = 0; i < count; ++i)
            {
                if ((entries[i] >> 12) != IMAGE_REL_BASED_HIGHLOW)
                    continue;
                DWORD* target =
                    reinterpret_cast<DWORD*>(base + reloc->VirtualAddress + (entries[i] & 0xFFF));
                Patch(target, *target + delta);
            }
            block += reloc->SizeOfBlock;
        }
    }

    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (const IMAGE_IMPORT_DESCRIPTOR* desc =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         imports.Size && desc->Name; ++desc)
    {
        const char* dllName = reinterpret_cast<const char*>(base + desc->Name);
        if (!desc->OriginalFirstThunk)
            return ::testing::AssertionFailure() << dllName << ": no import name table";
        const IMAGE_THUNK_DATA32* names =
            reinterpret_cast<const IMAGE_THUNK_DATA32*>(base + desc->OriginalFirstThunk);
        IMAGE_THUNK_DATA32* addresses = reinterpret_cast<IMAGE_THUNK_DATA32*>(base + desc->FirstThunk);
        HMODULE dll = LoadLibraryA(dllName);
        if (!dll)
            return ::testing::AssertionFailure() << dllName << " does not load";
        for (; names->u1.AddressOfData; ++names, ++addresses)
        {
            if (addresses->u1.Function != names->u1.AddressOfData)
                continue;   // bound by the loader
            FARPROC function;
            if (IMAGE_SNAP_BY_ORDINAL32(names->u1.Ordinal))
                function = GetProcAddress(dll, MAKEINTRESOURCEA(IMAGE_ORDINAL32(names->u1.Ordinal)));
            else
                function = GetProcAddress(
                    dll, reinterpret_cast<const char*>(
                             reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)
                                 ->Name));
            if (!function)
                return ::testing::AssertionFailure() << dllName << ": an import is missing";
            Patch(&addresses->u1.Function, DWORD(reinterpret_cast<ULONG_PTR>(function)));
        }
    }
    return ::testing::AssertionSuccess();
}

} // namespace

HMODULE LoadProductAsLibrary(std::string* failure)
{
    HMODULE module = LoadLibraryA(ProductPath().c_str());
    if (!module)
    {
        *failure = ProductPath() + " does not load, error " + std::to_string(GetLastError());
        return NULL;
    }
    ::testing::AssertionResult prepared = PrepareLoadedImage(module);
    if (!prepared)
    {
        *failure = prepared.message();
        FreeLibrary(module);
        return NULL;
    }
    return module;
}

// The executable exports exactly one name, GetDXVersion, undecorated, at code.
TEST(DxVersionExport, ExportTableNamesTheFunction)
{
    PeFile pe;
    ASSERT_TRUE(pe.Load(ProductPath())) << ProductPath();
    const IMAGE_DATA_DIRECTORY& dir = pe.nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    ASSERT_NE(0u, dir.Size) << "no export table";
    const IMAGE_EXPORT_DIRECTORY* exports =
        static_cast<const IMAGE_EXPORT_DIRECTORY*>(pe.At(dir.VirtualAddress));
    ASSERT_TRUE(exports);

    ASSERT_EQ(1u, exports->NumberOfNames);
    ASSERT_EQ(1u, exports->NumberOfFunctions);
    const DWORD* names = static_cast<const DWORD*>(pe.At(exports->AddressOfNames));
    const WORD* ordinals = static_cast<const WORD*>(pe.At(exports->AddressOfNameOrdinals));
    const DWORD* functions = static_cast<const DWORD*>(pe.At(exports->AddressOfFunctions));
    ASSERT_TRUE(names && ordinals && functions);
    const char* name = static_cast<const char*>(pe.At(names[0]));
    ASSERT_TRUE(name);
    EXPECT_STREQ("GetDXVersion", name);

    DWORD rva = functions[ordinals[0]];
    EXPECT_FALSE(rva >= dir.VirtualAddress && rva < dir.VirtualAddress + dir.Size)
        << "a forwarder, not code";
    const IMAGE_SECTION_HEADER* section = pe.SectionOf(rva);
    ASSERT_TRUE(section) << std::hex << rva;
    EXPECT_TRUE(section->Characteristics & IMAGE_SCN_MEM_EXECUTE)
        << "export at " << std::hex << rva << " in " << std::string(reinterpret_cast<const char*>(section->Name), 8);
}

// A caller loads the executable as a library and calls the export through GetProcAddress. No
// start-up code of the executable runs in that process.
TEST(DxVersionExport, CallableFromExecutableLoadedAsLibrary)
{
    PeFile pe;
    ASSERT_TRUE(pe.Load(ProductPath())) << ProductPath();
    ASSERT_NE(reinterpret_cast<ULONG_PTR>(GetModuleHandleA(NULL)), pe.nt->OptionalHeader.ImageBase)
        << "the test program must not sit at the executable's own base";

    std::string failure;
    HMODULE module = LoadProductAsLibrary(&failure);
    ASSERT_TRUE(module != NULL) << failure;

    PFN_GETDXVERSION getDxVersion =
        reinterpret_cast<PFN_GETDXVERSION>(reinterpret_cast<void*>(GetProcAddress(module, "GetDXVersion")));
    ASSERT_TRUE(getDxVersion != NULL);
    EXPECT_NE(reinterpret_cast<void*>(&GetDXVersion), reinterpret_cast<void*>(getDxVersion))
        << "resolved to the test program's own copy";

    DWORD version = 0;
    char text[16];
    memset(text, 'x', sizeof(text));
    EXPECT_EQ(S_OK, getDxVersion(&version, text, sizeof(text)));
    EXPECT_EQ(0x00090003u, version);
    EXPECT_STREQ("9.0c", text);

    memset(text, 'x', sizeof(text));
    EXPECT_EQ(S_OK, getDxVersion(NULL, text, 3));
    EXPECT_STREQ("9.", text);
    EXPECT_EQ(S_OK, getDxVersion(NULL, NULL, 0));
    FreeLibrary(module);
}
