#!/usr/bin/python3
"""What a security reviewer reads off PivoraSetup.exe before anything else: the manifest, the
version record, the hardening flags, the sections, the unwind data and the DLLs it imports.
   check_pe.py <PivoraSetup.exe>"""
import re
import sys
import unittest

import pefile

# DLLs the program may import statically: all on the KnownDLLs list, so that Windows never takes
# them from the program's own folder. Anything else (version.dll, winmm.dll, comctl32.dll) is
# loaded by full system-directory path when first needed.
ALLOWED_IMPORTS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll",
                   "ole32.dll", "oleaut32.dll", "msvcrt.dll", "shlwapi.dll", "comdlg32.dll"}


class ShippedBinary(unittest.TestCase):
    pe = None

    def test_manifest(self):
        manifests = [name.directory.entries[0].data.struct for entry in self.pe.DIRECTORY_ENTRY_RESOURCE.entries
                     if entry.id == pefile.RESOURCE_TYPE["RT_MANIFEST"] for name in entry.directory.entries if name.id == 1]
        self.assertEqual(1, len(manifests), "application manifests (RT_MANIFEST 1)")
        text = self.pe.get_data(manifests[0].OffsetToData, manifests[0].Size).decode("utf-8")
        self.assertRegex(text, r'requestedExecutionLevel\s+level="requireAdministrator"')
        self.assertEqual({"e2011457-1546-43c5-a5fe-008deee3d3f0",   # Vista
                          "35138b9a-5d96-4fbd-8e2d-a2440225f93a",   # 7
                          "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",   # 8
                          "1f676c76-80e1-4239-95bb-83d0f6d0da78",   # 8.1
                          "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"},  # 10 and 11
                         set(re.findall(r'supportedOS Id="\{([0-9a-f-]+)\}"', text)))
        self.assertRegex(text, r"<dpiAware[^>]*>true</dpiAware>")
        self.assertNotIn("Microsoft.Windows.Common-Controls", text, "the manifest must not change the look of the dialogs")

    def test_version_record(self):
        tables = {table.LangID.decode().lower(): table.entries for info in self.pe.FileInfo[0]
                  if info.Key == b"StringFileInfo" for table in info.StringTable}
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        version = b"%d.%d.%d.%d" % (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
                                    fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF)
        for lang, name, value in (("041103a4", b"ProductName", b"Vantori"), ("040904b0", b"ProductName", b"Vantori"),
                                  ("041103a4", b"FileDescription", "Vantori セットアップ".encode()),
                                  ("040904b0", b"FileDescription", b"Vantori Setup"),
                                  ("041103a4", b"FileVersion", version), ("040904b0", b"ProductVersion", version)):
            self.assertEqual(value, tables.get(lang, {}).get(name), "%s of %s in %s" % (name, lang, list(tables)))

    def test_hardening_flags_and_sections(self):
        flags = self.pe.OPTIONAL_HEADER.DllCharacteristics
        self.assertEqual(0x0140, flags & 0x0140, "DYNAMIC_BASE (ASLR, 0x40) and NX_COMPAT (DEP, 0x100): %#x" % flags)
        self.assertTrue(flags & 0x8000, "TERMINAL_SERVER_AWARE: a terminal server would give it a Windows directory of the user's: %#x" % flags)
        self.assertFalse(self.pe.FILE_HEADER.Characteristics & 0x0001, "relocations stripped: ASLR could not move the image")
        self.assertGreater(self.pe.OPTIONAL_HEADER.DATA_DIRECTORY[5].Size, 0, "no base relocation table")
        self.assertEqual(0, self.pe.FILE_HEADER.TimeDateStamp, "time stamp in the image")
        for section in self.pe.sections:
            self.assertNotEqual(0xA0000000, section.Characteristics & 0xA0000000,
                                "section %r is writable and executable" % section.Name)

    def test_unwind_data(self):
        """64-bit Windows dispatches an exception through a frame, and walks past it in a crash
        report, only by its function's entry in the exception directory: nearly all the code has
        one, GetDXVersion's included. 32-bit Windows finds its handlers in records on the stack."""
        if self.pe.OPTIONAL_HEADER.Magic != 0x20B:
            self.skipTest("PE32: 32-bit Windows reads no unwind table")
        ranges = [(f.struct.BeginAddress, f.struct.EndAddress) for f in getattr(self.pe, "DIRECTORY_ENTRY_EXCEPTION", [])]
        export = self.pe.DIRECTORY_ENTRY_EXPORT.symbols[0].address
        self.assertTrue(any(begin <= export < end for begin, end in ranges), "no unwind data for GetDXVersion")
        text = next(section for section in self.pe.sections if section.Name.rstrip(b"\0") == b".text")
        self.assertGreater(sum(end - begin for begin, end in ranges), 0.9 * text.Misc_VirtualSize,
                           "bytes of code with unwind data, of %d" % text.Misc_VirtualSize)

    def test_imports_only_known_dlls_and_exports_getdxversion(self):
        imported = {entry.dll.decode().lower() for entry in self.pe.DIRECTORY_ENTRY_IMPORT}
        self.assertLessEqual(imported, ALLOWED_IMPORTS, "imports outside the allowed list: %s" % (imported - ALLOWED_IMPORTS))
        self.assertEqual([b"GetDXVersion"], [s.name for s in self.pe.DIRECTORY_ENTRY_EXPORT.symbols])


if __name__ == "__main__":
    ShippedBinary.pe = pefile.PE(sys.argv.pop(1))
    unittest.main(verbosity=2)
