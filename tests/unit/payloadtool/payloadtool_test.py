#!/usr/bin/env python3
"""Tests of the host payloadtool: pack/list, scramble/unscramble, checksum, verify, and its refusals.

    payloadtool_test.py <path of payloadtool> [unittest arguments]

Expected archive bytes, code page 932 names, scrambled bytes and checksums are computed here from
the format's rules (Python's zlib for the CRC-32), independently of the tool.
"""
import os
import random
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

TOOL = None


def run(*args):
    return subprocess.run([TOOL, *args], capture_output=True)


def write(path, data=b""):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def entry(name, data):
    return struct.pack("<Q4s8x264s", len(data), b"DRAW", name) + data


def archive(*entries, total=None):
    """An archive of (name, content) entries; the header declares total, or the true size."""
    body = b"".join(entry(n, d) for n, d in entries)
    return struct.pack("<Q4s12x", 24 + len(body) if total is None else total, b"PK24") + body


def reference_scramble(plain):
    """Chunks 1 and 2 (1,000,000 bytes from 3,000,000 bytes up, else 100,000) as a running
    exclusive-or: stored[k] = plain[k] ^ plain[k-1], the first byte of a chunk with its seed."""
    out = bytearray(plain)
    chunk = 1000000 if len(plain) >= 3000000 else 100000
    for start, seed in ((chunk, 0x5E), (2 * chunk, 0x27)):
        part = plain[start:start + chunk]
        if part:
            mixed = int.from_bytes(part, "big") ^ int.from_bytes(bytes([seed]) + part[:-1], "big")
            out[start:start + len(part)] = mixed.to_bytes(len(part), "big")
    return bytes(out)


def make_pe(tree, with_resources=True):
    """A minimal PE32 image whose resource section holds tree: {type: {id: {lang: bytes}}}. (The
    build verifies the real PE32 and PE32+ files.)"""
    rsrc = bytearray()

    def put(node):
        at = len(rsrc)
        rsrc.extend(struct.pack("<IIHHHH", 0, 0, 0, 0, 0, len(node)) + bytes(8 * len(node)))
        for k, key in enumerate(sorted(node)):
            if isinstance(node[key], bytes):
                target = len(rsrc)
                rsrc.extend(struct.pack("<IIII", 0x1000 + target + 16, len(node[key]), 0, 0))
                rsrc.extend(node[key] + bytes(-len(node[key]) % 4))
            else:
                target = 0x80000000 | put(node[key])
            struct.pack_into("<II", rsrc, at + 16 + 8 * k, key, target)
        return at

    put(tree)
    optional = bytearray(96 + 16 * 8)
    struct.pack_into("<H", optional, 0, 0x10B)
    struct.pack_into("<I", optional, 92, 16)
    if with_resources:
        struct.pack_into("<II", optional, 96 + 2 * 8, 0x1000, len(rsrc))
    raw_size = (len(rsrc) + 0x1FF) & ~0x1FF
    image = bytearray(b"MZ" + bytes(0x3A) + struct.pack("<I", 0x40))
    image += b"PE\0\0" + struct.pack("<HHIIIHH", 0x14C, 1, 0, 0, 0, len(optional), 0x102) + optional
    image += struct.pack("<8sIIIIIIHHI", b".rsrc", len(rsrc), 0x1000, raw_size, 0x200, 0, 0, 0, 0, 0x40000040)
    return bytes(image + bytes(0x200 - len(image)) + rsrc + bytes(raw_size - len(rsrc)))


class PayloadToolTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="payloadtool-test-")
        self.out = self.path("out")
        os.mkdir(self.out)

    def tearDown(self):
        shutil.rmtree(self.dir)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def folder(self, name, *files):
        for rel in files:
            write(self.path(name, *rel.split("/")), b"x")
        return self.path(name)

    def assert_refused(self, result, message):
        """A refusal: exit status 1, the message on stderr, and nothing left in the output folder."""
        stderr = result.stderr.decode("utf-8", "replace")
        self.assertEqual(1, result.returncode, "exit status; stderr: %s" % stderr)
        self.assertIn(message, stderr)
        self.assertEqual([], os.listdir(self.out), "files left in the output folder")

    def test_round_trip_with_cp932_names(self):
        rng = random.Random(7)
        # ソ, 表 and 能 have 0x5C as their second byte in code page 932; ｱ is one byte. An empty
        # subfolder holds nothing to pack.
        files = {"setup.exe": b"MZ" + rng.randbytes(5000), "Readme.txt": b"hello\r\n", "empty.dat": b"",
                 "ソフト表示.txt": "表示のテスト".encode("cp932"), "能力ｱｲｳ.bin": rng.randbytes(2500)}
        for name, data in files.items():
            write(self.path("in", name), data)
        os.makedirs(self.path("in", "empty folder", "empty too"))
        result = run("pack", self.path("in"), self.path("out", "a.pk24"))
        self.assertEqual((0, b""), (result.returncode, result.stderr))
        data = read(self.path("out", "a.pk24"))
        blocks = [entry(n.encode("cp932"), d) for n, d in files.items()]
        self.assertEqual((archive()[8:24], 24 + sum(map(len, blocks))), (data[8:24], len(data)))
        self.assertEqual(len(data), struct.unpack_from("<Q", data)[0], "declared total size")
        for name, block in zip(files, blocks):
            self.assertIn(block, data, name)

        listed = run("list", self.path("out", "a.pk24"))
        self.assertEqual(0, listed.returncode, listed.stderr)
        lines = listed.stdout.decode("utf-8").splitlines()
        self.assertEqual("%d entries, %d bytes" % (len(files), len(data)), lines[-1])
        self.assertEqual(sorted("%d\t%s" % (len(d), n) for n, d in files.items()), sorted(lines[:-1]))

    def test_pack_refusals(self):
        write(self.path("plain.txt"))
        cases = [(self.path("missing"), "No such file or directory"), (self.path("plain.txt"), "not a folder")]
        for files, message in [
                (["install.exe"], "no setup.exe at the top of the folder"),
                (["Readme.txt", "README.TXT"], "differs only in case"), (["\uff21.txt", "\uff41.txt"], "differs only in case"),
                (["pivorasetup_IS.BIN"], "the archive's own name"),
                (["caf\u00e9.txt"], "not representable in code page 932"), (["\u00a5100.txt"], "not representable"),
                (["smile\U0001F600.txt"], "not representable"), (["wave\u301c.txt"], "not representable"),
                (["NUL.txt"], "reserved device name"), (["com1"], "reserved device name"),
                (["CONOUT$.log"], "reserved device name"), (["aux .txt"], "reserved device name"),
                (["a:b.txt"], "contains ':'"), (["what?.txt"], "contains '?'"), (["back\\slash.txt"], "contains '\\'"),
                (["dot."], "ends with a dot or a blank"), (["blank "], "ends with a dot or a blank")]:
            setup = [] if message.startswith("no setup") else ["setup.exe"]
            cases.append((self.folder("case%d" % len(cases), *setup, *files), message))
        with open(os.path.join(os.fsencode(self.folder("badutf8", "setup.exe")), b"\xff\xfe.txt"), "wb"):
            cases.append((self.path("badutf8"), "not representable in code page 932"))
        for kind, make in (("link", lambda p: os.symlink("setup.exe", p)), ("fifo", os.mkfifo),
                           ("socket", lambda p: socket.create_server(p, family=socket.AF_UNIX).close())):
            make(os.path.join(self.folder(kind, "setup.exe"), kind))
            cases.append((self.path(kind), "not a plain file or folder" + (" (a symbolic link)" if kind == "link" else "")))
        for source, message in cases:
            with self.subTest(source=source, message=message):
                self.assert_refused(run("pack", source, self.path("out", "a.pk24")), message)

        # Files in subfolders, at any depth, are named in one refusal: the setup makes no folders.
        nested = self.folder("nested", "setup.exe", "sub/setup.exe", "sub/deeper/b.txt", "sub/a.txt")
        os.symlink("../setup.exe", os.path.join(nested, "sub", "link"))
        self.assert_refused(run("pack", nested, self.path("out", "a.pk24")),
                            nested + ": 4 files lie in subfolders. The setup program extracts the archive into its"
                            " work folder and makes no folders there, so such a file cannot be extracted and the"
                            " run would end with its \"setup file may be damaged\" message. Keep the installer's"
                            " files at the top of the folder:\n  sub/a.txt\n  sub/deeper/b.txt\n  sub/link\n"
                            "  sub/setup.exe\n")

        ok = self.folder("ok", "setup.exe")
        self.assert_refused(run("pack", ok, self.path("out", "nowhere", "a.pk24")), "cannot create")
        # The archive must not end up packing itself, nor a refusal destroy an earlier archive.
        result = run("pack", ok, os.path.join(ok, "self.pk24"))
        self.assertIn(b"cannot be written inside the folder that it packs", result.stderr)
        self.assertEqual((1, ["setup.exe"]), (result.returncode, os.listdir(ok)))
        write(self.path("out", "a.pk24"), b"previous")
        self.assertEqual(1, run("pack", self.folder("nosetup", "install.exe"), self.path("out", "a.pk24")).returncode)
        self.assertEqual(b"previous", read(self.path("out", "a.pk24")))

    def test_list_refusals(self):
        good = archive((b"setup.exe", b"hello"))
        for data, message in [
                (good[:20], "20 bytes, too short for the 24-byte archive header"), (b"", "0 bytes, too short"),
                (good[:8] + b"PK23" + good[12:], "not a PK24 archive"),
                (archive((b"setup.exe", b"hello"), total=597), "declares a total size of 597 bytes, but the entries fill 313"),
                (archive((b"setup.exe", b"hello"), total=24), "declares a total size of 24 bytes, but the entries fill 313"),
                (good[:-1], "entry 1 at offset 24 \"setup.exe\" declares 5 bytes, but only 4 follow"),
                (good + bytes(100), "the file ends inside the header of entry 2 at offset 313"),
                (good[:24] + struct.pack("<Q", 1 << 63) + good[32:], "declares 9223372036854775808 bytes"),
                (archive((b"a" * 264, b"hello")), "the name has no terminating NUL"),
                (archive((b"\x85\x40", b"hello")), "not valid code page 932"),  # 0x8540 is unassigned
                (None, "No such file or directory")]:
            if data is not None:
                write(self.path("bad.pk24"), data)
            result = run("list", self.path("bad.pk24" if data is not None else "missing.pk24"))
            self.assertEqual(1, result.returncode, message)
            self.assertIn(message, result.stderr.decode("utf-8", "replace"))

    def test_list_reports_each_name_the_setup_refuses(self):
        # Each refused entry is reported with its number, the listing goes on, the exit status is 1.
        # 0x81 before "/" or at the end is a lone lead byte; 0x8260/0x8281 are the full-width A/a,
        # 0x8754/0xFA4A two codes of one Roman numeral; 0x955C is one character, not a separator.
        refused = {b"..\\evil.exe": "a level of dots and blanks", b"C:\\evil.exe": "contains ':'",
                   b"\\abs.exe": "an empty level", b"sub/NUL.txt": "reserved device name",
                   b"setup.exe.": "ends with a dot or a blank", b"dir \\a": "ends with a dot or a blank",
                   b"sub\x81/a": "lone lead byte", b"a\x81": "lone lead byte", b"SeTuP.ExE": "same file",
                   b"pivorasetup_is.bin": "same file", b"\x82\x81.txt": "same file", b"\xfa\x4a": "same file",
                   b"bell\x07\x1b[2J": "control character"}
        names = [b"setup.exe", b"\x82\x60.txt", b"\x87\x54", b"\x95\x5c\\ok.txt"] + list(refused)
        write(self.path("names.pk24"), archive(*((n, b"x") for n in names)))
        result = run("list", self.path("names.pk24"))
        reported = result.stderr.decode("utf-8").splitlines()
        self.assertEqual((1, len(refused)), (result.returncode, len(reported)), reported)
        for number, (line, message) in enumerate(zip(reported, refused.values()), 5):
            self.assertIn("entry %d at offset %d" % (number, 24 + 285 * (number - 1)), line)
            self.assertIn(message, line)
        self.assertIn(b"1\tbell\\x07\\x1B[2J\n", result.stdout)
        self.assertIn("1\t表\\ok.txt\n".encode(), result.stdout)

    def test_scramble_follows_the_chunk_rule_and_unscrambles(self):
        rng = random.Random(1)
        stored, back = self.path("out", "stored.bin"), self.path("out", "back.bin")
        for size in [100000, 100001, 250000, 450000, 2999999, 3000000, 3000001]:
            plain = rng.randbytes(size)
            write(self.path("plain.bin"), plain)
            self.assertEqual((0, 0), (run("scramble", self.path("plain.bin"), stored).returncode,
                                      run("unscramble", stored, back).returncode))
            for got, expected in ((read(stored), reference_scramble(plain)), (read(back), plain)):
                if got != expected:
                    self.fail("size %d: first wrong byte at %d" % (size, next(
                        i for i in range(size) if got[i:i + 1] != expected[i:i + 1])))

    def test_scramble_and_checksum_refusals(self):
        write(self.path("empty.bin"))
        write(self.path("archive.bin"), b"a")
        for args, message in ((("scramble", self.path("empty.bin")), "the file is empty"),
                              (("scramble", self.path("missing.bin")), "No such file or directory"),
                              (("unscramble", self.dir), "not a plain file"),
                              (("checksum", self.path("archive.bin"), self.path("missing.exe")), "No such file")):
            self.assert_refused(run(*args, self.path("out", "s.bin")), message)
        result = run("scramble", self.path("empty.bin"))
        self.assertEqual((2, True), (result.returncode, b"usage:" in result.stderr))

    def test_checksum_and_verify(self):
        rng = random.Random(3)
        plain = {207: rng.randbytes(250000), 203: rng.randbytes(120000)}
        crcs = zlib.crc32(plain[207]), zlib.crc32(plain[203])
        write(self.path("archive.bin"), plain[207])
        write(self.path("wmfdist.exe"), plain[203])
        result = run("checksum", self.path("archive.bin"), self.path("wmfdist.exe"), self.path("out", "crc"))
        self.assertEqual((0, b"", struct.pack("<II", *crcs)), (result.returncode, result.stderr, read(self.path("out", "crc"))))

        def pe(change=None, **resources):
            """The resources 207, 203 and 209 that fit the files, with some replaced (None: left out)."""
            tree = {207: reference_scramble(plain[207]), 203: reference_scramble(plain[203]),
                    209: struct.pack("<II", *crcs)}
            tree.update({int(k[1:]): v for k, v in resources.items()})
            return make_pe({1001: {k: {0x411: v} for k, v in tree.items() if v is not None}, 6: {7: {0x411: b"s"}}})

        def verify(image):
            write(self.path("test.exe"), image)
            return run("verify", self.path("test.exe"), self.path("archive.bin"), self.path("wmfdist.exe"))

        result = verify(pe())
        self.assertEqual(0, result.returncode, result.stderr)
        for line in (b"resource 207 (payload archive) matches", b"resource 203 (wmfdist.exe) matches",
                     b"resource 209 (checksums) matches (CRC-32 0x%08X and 0x%08X)" % crcs):
            self.assertIn(line, result.stdout)

        changed = bytearray(plain[207])
        changed[150000] ^= 1
        two_languages = make_pe({1001: {207: {0x409: b"a", 0x411: b"a"}}})
        differs = "resource 207 (payload archive) differs from %s first at byte %%d" % self.path("archive.bin")
        for data, message in [
                (pe(r207=reference_scramble(bytes(changed))), differs % 150000),
                (pe(r207=plain[207]), differs % 100000),  # embedded plain: the second chunk is wrong
                (pe(r203=reference_scramble(plain[203][:-1])), "resource 203 (wmfdist.exe) unscrambles to 119999 bytes, but"),
                (pe(r203=None), "no resource 203 of type 1001"),
                (pe(r209=None), "no resource 209 of type 1001"),
                (pe(r209=struct.pack("<II", *crcs)[:7]), "resource 209 (checksums) has 7 bytes; 8 are expected"),
                (pe(r209=struct.pack("<II", *crcs[::-1])),
                 "resource 209 (checksums) holds 0x%08X for resource 207 and 0x%08X for resource 203; "
                 "the payloads give 0x%08X and 0x%08X" % (crcs[::-1] + crcs)),
                (two_languages, "resource 207 of type 1001 exists in 2 languages"),
                (make_pe({6: {7: {0x411: b"strings"}}}), "no resources of type 1001"),
                (make_pe({}, with_resources=False), "the PE file has no resources"),
                (b"just some text, not an executable" * 10, "not a PE file"),
                (pe()[:0x300], "lies outside the file"),  # cut off inside the resource data
                (None, "No such file or directory")]:
            result = verify(data) if data is not None else run(
                "verify", self.path("missing.exe"), self.path("archive.bin"), self.path("wmfdist.exe"))
            self.assertEqual(1, result.returncode, message)
            self.assertIn(message, result.stderr.decode("utf-8", "replace"))


    def test_needs(self):
        """The archive, its files and wmfdist.exe, in MiB rounded up, and 200 MiB at least."""
        data = archive((b"setup.exe", b"MZ" * 1000), (b"data.bin", b"d" * 3000))
        write(self.path("a.pk24"), data)
        with open(self.path("wmfdist.exe"), "wb") as f:
            f.truncate((300 << 20) - len(data) - 5000 + 1)   # sparse: its size is all that counts
        for wmfdist, mib in ((self.path("a.pk24"), 200), (self.path("wmfdist.exe"), 301)):
            result = run("needs", self.path("a.pk24"), wmfdist)
            self.assertEqual((0, b""), (result.returncode, result.stderr))
            self.assertTrue(result.stdout.startswith(b"payload needs %d MiB in the temporary folder (" % mib),
                            result.stdout)
        with open(self.path("wmfdist.exe"), "wb") as f:
            f.truncate((2047 << 20) - len(data))
        self.assert_refused(run("needs", self.path("a.pk24"), self.path("wmfdist.exe")), "an image of 2 GiB or more")
        write(self.path("bad.pk24"), data[:-1])
        self.assert_refused(run("needs", self.path("bad.pk24"), wmfdist), "declares 3000 bytes, but only 2999 follow")

if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit("usage: payloadtool_test.py <payloadtool> [unittest arguments]")
    TOOL = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
