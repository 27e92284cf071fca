#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include "common/TestSupport.h"
#include "dxversion/DxVersion.h"
#include "ProductImage.h"

namespace
{

std::string ProductPath()
{
    return ProgramDir() + "..\\PivoraSetup.exe";
}

// The executable of the same flavour as this test program: PE32 with 32-bit relocations in the
// 32-bit build, PE32+ with 64-bit ones in the 64-bit build. IMAGE_NT_HEADERS, IMAGE_THUNK_DATA
// and the ordinal flag are the native ones of each.
#ifdef _WIN64
const WORD kNativeRelocation = IMAGE_REL_BASED_DIR64;
typedef ULONGLONG RelocatedWord;
#else
const WORD kNativeRelocation = IMAGE_REL_BASED_HIGHLOW;
typedef DWORD RelocatedWord;
#endif

// The headers of the executable read from its file, with RVA-to-offset translation.
struct PeFile
{
    std::string bytes;
    const IMAGE_NT_HEADERS* nt = NULL;

    bool Load()
    {
        if (!ReadFileBytes(ProductPath(), &bytes) || bytes.size() < sizeof(IMAGE_DOS_HEADER))
            return false;
        LONG offset = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes.data())->e_lfanew;
        if (offset < 0 || size_t(offset) + sizeof(IMAGE_NT_HEADERS) > bytes.size())
            return false;
        nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(bytes.data() + offset);
        return nt->Signature == IMAGE_NT_SIGNATURE &&
               nt->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR_MAGIC;
    }

    const IMAGE_SECTION_HEADER* SectionOf(DWORD rva) const
    {
        const IMAGE_SECTION_HEADER* s = IMAGE_FIRST_SECTION(nt);
        for (int i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++s)
            if (rva >= s->VirtualAddress && rva - s->VirtualAddress < s->SizeOfRawData)
                return s;
        return NULL;
    }

    const void* At(DWORD rva) const
    {
        const IMAGE_SECTION_HEADER* s = SectionOf(rva);
        size_t offset = s ? s->PointerToRawData + (rva - s->VirtualAddress) : bytes.size();
        return offset < bytes.size() ? bytes.data() + offset : NULL;
    }
};

// What the loader does for a DLL but not for an executable loaded as a library: moves the
// image's addresses to where it was mapped and binds its imports, leaving alone what is done.
// Empty, or the reason it failed. The whole image is made writable for it.
std::string RelocateAndBind(HMODULE module)
{
    BYTE* base = reinterpret_cast<BYTE*>(module);
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    DWORD oldProtect = 0;
    VirtualProtect(base, nt->OptionalHeader.SizeOfImage, PAGE_EXECUTE_READWRITE, &oldProtect);
    const IMAGE_DATA_DIRECTORY& relocs = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    RelocatedWord delta = RelocatedWord(reinterpret_cast<ULONG_PTR>(base) - nt->OptionalHeader.ImageBase);
    if (delta && !relocs.Size)
        return "mapped away from its base, no relocations";
    BYTE* end = base + relocs.VirtualAddress + (delta ? relocs.Size : 0);
    for (BYTE* block = base + relocs.VirtualAddress; block < end;)
    {
        const IMAGE_BASE_RELOCATION* reloc = reinterpret_cast<const IMAGE_BASE_RELOCATION*>(block);
        if (reloc->SizeOfBlock < sizeof(*reloc))
            break;
        const WORD* entries = reinterpret_cast<const WORD*>(reloc + 1);
        for (DWORD i = 0; i < (reloc->SizeOfBlock - sizeof(*reloc)) / sizeof(WORD); ++i)
            if ((entries[i] >> 12) == kNativeRelocation)
                *reinterpret_cast<RelocatedWord*>(base + reloc->VirtualAddress + (entries[i] & 0xFFF)) += delta;
        block += reloc->SizeOfBlock;
    }

    for (const IMAGE_IMPORT_DESCRIPTOR* desc =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         imports.Size && desc->Name; ++desc)
    {
        const char* dllName = reinterpret_cast<const char*>(base + desc->Name);
        HMODULE dll = LoadLibraryA(dllName);
        if (!dll || !desc->OriginalFirstThunk)
            return std::string(dllName) + " does not load or has no import name table";
        const IMAGE_THUNK_DATA* names =
            reinterpret_cast<const IMAGE_THUNK_DATA*>(base + desc->OriginalFirstThunk);
        IMAGE_THUNK_DATA* addresses = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++addresses)
        {
            if (addresses->u1.Function != names->u1.AddressOfData)
                continue;   // bound by the loader
            const char* name = IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)
                ? MAKEINTRESOURCEA(IMAGE_ORDINAL(names->u1.Ordinal))
                : reinterpret_cast<const char*>(
                      reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name);
            FARPROC function = GetProcAddress(dll, name);
            if (!function)
                return std::string(dllName) + ": an import is missing";
            addresses->u1.Function = reinterpret_cast<ULONG_PTR>(function);
        }
    }
    return "";
}

} // namespace

HMODULE LoadProductAsLibrary(std::string* failure)
{
    HMODULE module = LoadLibraryA(ProductPath().c_str());
    *failure = module ? RelocateAndBind(module)
                      : ProductPath() + " does not load, error " + std::to_string(GetLastError());
    if (module && !failure->empty())
        FreeLibrary(module);
    return failure->empty() ? module : NULL;
}

// The executable exports exactly one name, GetDXVersion, undecorated, at code. A caller based
// elsewhere loads it as a library and calls the export, with no start-up code of it having run.
TEST(DxVersionExport, ExportedAndCallable)
{
    PeFile pe;
    ASSERT_TRUE(pe.Load()) << ProductPath();
    const IMAGE_DATA_DIRECTORY& dir = pe.nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    const IMAGE_EXPORT_DIRECTORY* exports =
        static_cast<const IMAGE_EXPORT_DIRECTORY*>(pe.At(dir.VirtualAddress));
    ASSERT_TRUE(dir.Size && exports) << "no export table";
    ASSERT_EQ(1u, exports->NumberOfNames);
    ASSERT_EQ(1u, exports->NumberOfFunctions);
    const DWORD* names = static_cast<const DWORD*>(pe.At(exports->AddressOfNames));
    const WORD* ordinals = static_cast<const WORD*>(pe.At(exports->AddressOfNameOrdinals));
    const DWORD* functions = static_cast<const DWORD*>(pe.At(exports->AddressOfFunctions));
    ASSERT_TRUE(names && ordinals && functions);
    EXPECT_STREQ("GetDXVersion", static_cast<const char*>(pe.At(names[0])));
    // Not a forwarder into the export directory: code.
    const IMAGE_SECTION_HEADER* section = pe.SectionOf(functions[ordinals[0]]);
    ASSERT_TRUE(section) << std::hex << functions[ordinals[0]];
    EXPECT_TRUE(section->Characteristics & IMAGE_SCN_MEM_EXECUTE)
        << std::hex << functions[ordinals[0]] << " in " << std::string((const char*)section->Name, 8);

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
    FreeLibrary(module);
}
