#!/usr/bin/python3
"""What a security reviewer reads off PivoraSetup.exe before anything else: the manifest, the
version record, the hardening flags, the sections and the DLLs it imports.
   check_pe.py <PivoraSetup.exe>"""
import re
import sys
import unittest

import pefile

EXE = None

# DLLs the program may import statically: all on the KnownDLLs list, so that Windows never takes
# them from the program's own folder. Anything else (version.dll, winmm.dll, comctl32.dll) is
# loaded by full system-directory path when first needed.
ALLOWED_IMPORTS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll",
                   "ole32.dll", "oleaut32.dll", "msvcrt.dll", "shlwapi.dll", "comdlg32.dll"}


def resource(pe, type_id, name_id=None):
    """The data of the first resource of this type (and id), or None."""
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.id != type_id:
            continue
        for name in entry.directory.entries:
            if name_id is not None and name.id != name_id:
                continue
            lang = name.directory.entries[0]
            return pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
    return None


class ShippedBinary(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(EXE)

    def test_manifest(self):
        manifest = resource(self.pe, pefile.RESOURCE_TYPE["RT_MANIFEST"], 1)
        self.assertIsNotNone(manifest, "no application manifest (RT_MANIFEST 1)")
        text = manifest.decode("utf-8")
        self.assertRegex(text, r'requestedExecutionLevel\s+level="requireAdministrator"')
        ids = set(re.findall(r'supportedOS Id="\{([0-9a-f-]+)\}"', text))
        self.assertEqual({"e2011457-1546-43c5-a5fe-008deee3d3f0",   # Vista
                          "35138b9a-5d96-4fbd-8e2d-a2440225f93a",   # 7
                          "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",   # 8
                          "1f676c76-80e1-4239-95bb-83d0f6d0da78",   # 8.1
                          "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"},  # 10 and 11
                         ids)
        self.assertRegex(text, r"<dpiAware[^>]*>true</dpiAware>")
        self.assertNotIn("Microsoft.Windows.Common-Controls", text,
                         "the manifest must not change the look of the dialogs")

    def test_version_record(self):
        tables = {}
        for info in self.pe.FileInfo[0]:
            if info.Key == b"StringFileInfo":
                for table in info.StringTable:
                    tables[table.LangID.decode()] = {k.decode(): v for k, v in table.entries.items()}
        self.assertIn("041103a4", {k.lower() for k in tables}, tables.keys())
        self.assertIn("040904b0", {k.lower() for k in tables}, tables.keys())
        tables = {k.lower(): v for k, v in tables.items()}
        ja, en = tables["041103a4"], tables["040904b0"]
        self.assertEqual(b"Vantori", ja["ProductName"])
        self.assertEqual(b"Vantori", en["ProductName"])
        self.assertEqual("Vantori セットアップ", ja["FileDescription"].decode("utf-8"))
        self.assertEqual(b"Vantori Setup", en["FileDescription"])
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        version = "%d.%d.%d.%d" % (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
                                   fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF)
        self.assertEqual(version.encode(), ja["FileVersion"])
        self.assertEqual(version.encode(), en["ProductVersion"])

    def test_hardening_flags(self):
        flags = self.pe.OPTIONAL_HEADER.DllCharacteristics
        self.assertTrue(flags & 0x0040, "DYNAMIC_BASE (ASLR) not set: %#x" % flags)
        self.assertTrue(flags & 0x0100, "NX_COMPAT (DEP) not set: %#x" % flags)
        self.assertFalse(self.pe.FILE_HEADER.Characteristics & 0x0001,
                         "relocations stripped: ASLR could not move the image")
        reloc = self.pe.OPTIONAL_HEADER.DATA_DIRECTORY[5]
        self.assertGreater(reloc.Size, 0, "no base relocation table")
        self.assertEqual(0, self.pe.FILE_HEADER.TimeDateStamp, "time stamp in the image")

    def test_no_writable_and_executable_section(self):
        for section in self.pe.sections:
            c = section.Characteristics
            writable, executable = c & 0x80000000, c & 0x20000000
            self.assertFalse(writable and executable,
                             "section %r is writable and executable" % section.Name)

    def test_imports_only_known_dlls(self):
        imported = {entry.dll.decode().lower() for entry in self.pe.DIRECTORY_ENTRY_IMPORT}
        self.assertLessEqual(imported, ALLOWED_IMPORTS,
                             "imports outside the allowed list: %s" % (imported - ALLOWED_IMPORTS))
        for dll in ("version.dll", "winmm.dll", "comctl32.dll"):
            self.assertNotIn(dll, imported)

    def test_exports_getdxversion(self):
        names = [s.name for s in self.pe.DIRECTORY_ENTRY_EXPORT.symbols]
        self.assertEqual([b"GetDXVersion"], names)


if __name__ == "__main__":
    EXE = sys.argv.pop(1)
    unittest.main(verbosity=2)
