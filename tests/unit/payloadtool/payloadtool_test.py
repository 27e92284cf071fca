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
NAME_FIELD = 264


def run(*args):
    return subprocess.run([TOOL, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE)


def write(path, data=b""):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def parse_archive(data):
    """The archive as (declared total, [(size, reserved, name field, content)])."""
    assert data[8:24] == b"PK24" + bytes(12), data[8:24]
    entries, pos = [], 24
    while pos < len(data):
        size, = struct.unpack_from("<Q", data, pos)
        entries.append((size, data[pos + 8:pos + 20], data[pos + 20:pos + 284], data[pos + 284:pos + 284 + size]))
        pos += 284 + size
    return struct.unpack_from("<Q", data)[0], entries


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


def make_pe(tree, magic=0x10B, with_resources=True):
    """A minimal PE image whose resource section holds tree: {type: {id: {lang: bytes}}}."""
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
    directories_at = 96 if magic == 0x10B else 112
    optional = bytearray(directories_at + 16 * 8)
    struct.pack_into("<H", optional, 0, magic)
    struct.pack_into("<I", optional, directories_at - 4, 16)
    if with_resources:
        struct.pack_into("<II", optional, directories_at + 2 * 8, 0x1000, len(rsrc))
    raw_size = (len(rsrc) + 0x1FF) & ~0x1FF
    image = bytearray(b"MZ" + bytes(0x3A) + struct.pack("<I", 0x40))
    image += b"PE\0\0" + struct.pack("<HHIIIHH", 0x14C, 1, 0, 0, 0, len(optional), 0x102) + optional
    image += struct.pack("<8sIIIIIIHHI", b".rsrc", len(rsrc), 0x1000, raw_size, 0x200, 0, 0, 0, 0, 0x40000040)
    return bytes(image + bytes(0x200 - len(image)) + rsrc + bytes(raw_size - len(rsrc)))


class ToolTestCase(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="payloadtool-test-")
        self.out = os.path.join(self.dir, "out")
        os.mkdir(self.out)

    def tearDown(self):
        for root, dirs, _ in os.walk(self.dir):
            for d in dirs:
                os.chmod(os.path.join(root, d), 0o755)
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


class PackListTest(ToolTestCase):
    def test_round_trip_with_nested_folders_and_cp932_names(self):
        rng = random.Random(7)
        # ソ, 表 and 能 have 0x5C as their second byte in code page 932; ｱ is one byte.
        files = {"setup.exe": b"MZ" + rng.randbytes(5000), "Readme.txt": b"hello\r\n", "empty.dat": b"",
                 "ソフト\\表示.txt": "表示のテスト".encode("cp932"),
                 "ソフト\\能力\\深い\\ｱｲｳ.bin": rng.randbytes(2500), "data\\a\\b\\c\\d.txt": b"deep"}
        for name, data in files.items():
            write(self.path("in", *name.split("\\")), data)
        os.mkdir(self.path("in", "empty folder"))
        archive = self.path("out", "a.pk24")

        result = run("pack", self.path("in"), archive)
        self.assertEqual((0, b""), (result.returncode, result.stderr))
        data = read(archive)
        total, entries = parse_archive(data)
        self.assertEqual((len(data), 24 + sum(284 + len(d) for d in files.values())), (total, len(data)))
        self.assertEqual({b"DRAW" + bytes(8)}, {reserved for _, reserved, _, _ in entries})
        self.assertEqual({n.encode("cp932").ljust(NAME_FIELD, b"\0"): d for n, d in files.items()},
                         {field: content for _, _, field, content in entries})

        listed = run("list", archive)
        self.assertEqual(0, listed.returncode, listed.stderr)
        lines = listed.stdout.decode("utf-8").splitlines()
        self.assertEqual("%d entries, %d bytes" % (len(files), len(data)), lines[-1])
        self.assertEqual(sorted("%d\t%s" % (len(d), n) for n, d in files.items()), sorted(lines[:-1]))

    def test_name_length_is_counted_in_cp932_bytes(self):
        # 80 + 51 hiragana: 393 bytes in UTF-8, but 160 + 1 + 102 = 263 bytes in code page 932.
        write(self.path("in", "setup.exe"), b"x")
        write(self.path("in", "あ" * 80, "あ" * 51), b"fits")
        archive = self.path("out", "a.pk24")
        self.assertEqual(0, run("pack", self.path("in"), archive).returncode)
        fields = [field for _, _, field, _ in parse_archive(read(archive))[1]]
        self.assertIn(("あ" * 80 + "\\" + "あ" * 51).encode("cp932") + b"\0", fields)
        os.remove(archive)
        write(self.path("in", "あ" * 80, "あ" * 51 + "x"), b"one byte too long")
        self.assert_refused(run("pack", self.path("in"), archive), "264 bytes long in code page 932; at most 263 fit")

    def test_pack_refusals(self):
        write(self.path("plain.txt"))
        os.mkdir(self.path("emptydir"))
        cases = [(self.path("missing"), "No such file or directory"),
                 (self.path("plain.txt"), "not a folder"),
                 (self.folder("nosetup", "install.exe"), "no setup.exe at the top of the folder"),
                 (self.folder("deepsetup", "sub/setup.exe"), "no setup.exe at the top of the folder"),
                 (self.path("emptydir"), "no setup.exe"),
                 (self.folder("case", "setup.exe", "Readme.txt", "README.TXT"), "differs only in case"),
                 (self.folder("wide", "setup.exe", "\uff21.txt", "\uff41.txt"), "differs only in case"),
                 (self.folder("own", "setup.exe", "pivorasetup_IS.BIN"), "the archive's own name")]
        bad_names = {"not representable in code page 932":
                     ["caf\u00e9.txt", "\u00a5100.txt", "smile\U0001F600.txt", "wave\u301c.txt"],
                     "reserved device name": ["NUL.txt", "com1", "CONOUT$.log", "aux .txt"],
                     "contains ':'": ["a:b.txt"], "contains '?'": ["what?.txt"],
                     "contains '\\'": ["back\\slash.txt"], "ends with a dot or a blank": ["dot.", "blank "]}
        for message, names in bad_names.items():
            cases += [(self.folder("bad-" + str(len(cases)), "setup.exe", "sub/" + n), message) for n in names]
        with open(os.path.join(os.fsencode(self.folder("badutf8", "setup.exe")), b"\xff\xfe.txt"), "wb"):
            cases.append((self.path("badutf8"), "not representable in code page 932"))
        for kind, make in (("link", lambda p: os.symlink("setup.exe", p)), ("fifo", os.mkfifo),
                           ("socket", lambda p: socket.create_server(p, family=socket.AF_UNIX).close())):
            make(os.path.join(self.folder(kind, "setup.exe"), kind))
            cases.append((self.path(kind), "not a plain file or folder"))
        cases.append((self.path("link"), "not a plain file or folder (a symbolic link)"))
        if os.geteuid() != 0:
            os.chmod(os.path.join(self.folder("locked", "setup.exe", "sub/f.txt"), "sub"), 0)
            os.chmod(os.path.join(self.folder("lockedfile", "setup.exe", "f.txt"), "f.txt"), 0)
            cases += [(self.path("locked"), "cannot read the folder"), (self.path("lockedfile"), "Permission denied")]
        archive = self.path("out", "a.pk24")
        for source, message in cases:
            with self.subTest(source=source, message=message):
                self.assert_refused(run("pack", source, archive), message)

        ok = self.folder("ok", "setup.exe")
        self.assert_refused(run("pack", ok, self.path("out", "nowhere", "a.pk24")), "cannot create")
        # The archive must not end up packing itself, nor a refusal destroy an earlier archive.
        result = run("pack", ok, os.path.join(ok, "self.pk24"))
        self.assertIn(b"cannot be written inside the folder that it packs", result.stderr)
        self.assertEqual((1, ["setup.exe"]), (result.returncode, os.listdir(ok)))
        write(archive, b"previous")
        self.assertEqual(1, run("pack", self.path("nosetup"), archive).returncode)
        self.assertEqual(b"previous", read(archive))

    def test_list_refusals(self):
        archive = struct.pack("<Q4s12xQ4s8x264s", 313, b"PK24", 5, b"DRAW", b"setup.exe") + b"hello"
        write(self.path("good.pk24"), archive)
        result = run("list", self.path("good.pk24"))
        self.assertEqual((0, b"5\tsetup.exe\n1 entries, 313 bytes\n"), (result.returncode, result.stdout))

        def patched(offset, data):
            return archive[:offset] + data + archive[offset + len(data):]

        for data, message in [
                (archive[:20], "20 bytes, too short for the 24-byte archive header"),
                (b"", "0 bytes, too short"),
                (patched(8, b"PK23"), "not a PK24 archive"),
                (patched(0, struct.pack("<Q", 597)), "declares a total size of 597 bytes, but the entries fill 313 bytes"),
                (patched(0, struct.pack("<Q", 24)), "declares a total size of 24 bytes, but the entries fill 313 bytes"),
                (archive[:-1], "entry 1 at offset 24 \"setup.exe\" declares 5 bytes, but only 4 follow"),
                (archive + bytes(100), "the file ends inside the header of entry 2 at offset 313"),
                (patched(24, struct.pack("<Q", 1 << 63)), "declares 9223372036854775808 bytes"),
                (patched(44, b"a" * NAME_FIELD), "the name has no terminating NUL"),
                (patched(44, b"\x85\x40\x00"), "not valid code page 932")]:  # 0x8540 is unassigned
            write(self.path("bad.pk24"), data)
            result = run("list", self.path("bad.pk24"))
            self.assertEqual(1, result.returncode, message)
            self.assertIn(message, result.stderr.decode("utf-8", "replace"))
        self.assertEqual(1, run("list", self.path("missing.pk24")).returncode)

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
        body = b"".join(struct.pack("<Q4s8x264s", 1, b"DRAW", n) + b"x" for n in names)
        write(self.path("names.pk24"), struct.pack("<Q4s12x", 24 + len(body), b"PK24") + body)
        result = run("list", self.path("names.pk24"))
        reported = result.stderr.decode("utf-8").splitlines()
        self.assertEqual((1, len(refused)), (result.returncode, len(reported)), reported)
        for number, (line, message) in enumerate(zip(reported, refused.values()), 5):
            self.assertIn("entry %d at offset %d" % (number, 24 + 285 * (number - 1)), line)
            self.assertIn(message, line)
        self.assertIn(b"1\tbell\\x07\\x1B[2J\n", result.stdout)
        self.assertIn("1\t表\\ok.txt\n".encode(), result.stdout)


class ScrambleTest(ToolTestCase):
    def scramble(self, plain):
        write(self.path("plain.bin"), plain)
        result = run("scramble", self.path("plain.bin"), self.path("out", "stored.bin"))
        self.assertEqual(0, result.returncode, result.stderr)
        return read(self.path("out", "stored.bin"))

    def test_scramble_follows_the_chunk_rule_and_unscrambles(self):
        rng = random.Random(1)
        for size in [100000, 100001, 250000, 450000, 2999999, 3000000, 3000001]:
            plain = rng.randbytes(size)
            stored, expected = self.scramble(plain), reference_scramble(plain)
            if stored != expected:
                first = next(i for i in range(min(len(stored), size)) if stored[i] != expected[i])
                self.fail("size %d: first wrong scrambled byte at %d: %#x, expected %#x"
                          % (size, first, stored[first], expected[first]))
            result = run("unscramble", self.path("out", "stored.bin"), self.path("out", "back.bin"))
            self.assertEqual(0, result.returncode, result.stderr)
            self.assertTrue(read(self.path("out", "back.bin")) == plain, "size %d does not round-trip" % size)

    def test_known_positions(self):
        # Bytes of one value make the rule visible: a scrambled chunk starts with value ^ seed and
        # continues with zeros; a plain chunk keeps the value.
        for plain, expected in [
                (b"\xAA" * 250000, {99999: 0xAA, 100000: 0xAA ^ 0x5E, 100001: 0, 199999: 0,
                                    200000: 0xAA ^ 0x27, 249999: 0}),
                (b"\x11" * 100001, {0: 0x11, 99999: 0x11, 100000: 0x11 ^ 0x5E}),
                (b"\x33" * 2999999, {0: 0x33, 100000: 0x33 ^ 0x5E, 200000: 0x33 ^ 0x27, 300000: 0x33,
                                     2999998: 0x33}),
                (b"\x33" * 3000000, {100000: 0x33, 999999: 0x33, 1000000: 0x33 ^ 0x5E, 1999999: 0,
                                     2000000: 0x33 ^ 0x27, 2999999: 0}),
                (b"\x33" * 3000001, {3000000: 0x33}),
                # Within a scrambled chunk each byte is mixed with the plain byte before it.
                (bytes(range(256)) * 1000, {100000: 100000 % 256 ^ 0x5E, 100001: 100001 % 256 ^ 100000 % 256})]:
            stored = self.scramble(plain)
            self.assertEqual((len(plain), expected), (len(stored), {k: stored[k] for k in expected}))

    def test_refusals(self):
        write(self.path("empty.bin"))
        for args, message in ((("scramble", self.path("empty.bin")), "the file is empty"),
                              (("scramble", self.path("missing.bin")), "No such file or directory"),
                              (("unscramble", self.dir), "not a plain file")):
            self.assert_refused(run(*args, self.path("out", "s.bin")), message)
        result = run("scramble", self.path("empty.bin"))
        self.assertEqual((2, True), (result.returncode, b"usage:" in result.stderr))


class VerifyTest(ToolTestCase):
    def setUp(self):
        super().setUp()
        rng = random.Random(3)
        self.archive, self.wmfdist = rng.randbytes(250000), rng.randbytes(120000)
        write(self.path("archive.bin"), self.archive)
        write(self.path("wmfdist.exe"), self.wmfdist)

    def verify(self, image):
        write(self.path("test.exe"), image)
        return run("verify", self.path("test.exe"), self.path("archive.bin"), self.path("wmfdist.exe"))

    def crcs(self):
        return zlib.crc32(self.archive), zlib.crc32(self.wmfdist)

    def tree(self, archive=None, wmfdist=None, scramble=reference_scramble, checksums=None):
        return {1001: {207: {0x411: scramble(archive or self.archive)},
                       203: {0x411: reference_scramble(wmfdist or self.wmfdist)},
                       209: {0x411: struct.pack("<II", *self.crcs()) if checksums is None else checksums}},
                6: {7: {0x411: b"strings"}}}

    def test_checksum_writes_both_crcs_little_endian(self):
        out = self.path("out", "checksums.bin")
        result = run("checksum", self.path("archive.bin"), self.path("wmfdist.exe"), out)
        self.assertEqual((0, b""), (result.returncode, result.stderr))
        self.assertEqual(struct.pack("<II", *self.crcs()), read(out))
        os.remove(out)
        self.assert_refused(run("checksum", self.path("archive.bin"), self.path("missing.exe"), out),
                            "No such file or directory")

    def test_matching_resources_pass_in_pe32_and_pe32_plus(self):
        for magic in (0x10B, 0x20B):
            result = self.verify(make_pe(self.tree(), magic))
            self.assertEqual(0, result.returncode, result.stderr)
            self.assertIn(b"resource 207 (payload archive) matches", result.stdout)
            self.assertIn(b"resource 203 (wmfdist.exe) matches", result.stdout)
            self.assertIn(b"resource 209 (checksums) matches (CRC-32 0x%08X and 0x%08X)" % self.crcs(),
                          result.stdout)

    def test_mismatches_and_missing_resources(self):
        changed = bytearray(self.archive)
        changed[150000] ^= 1
        no_203, two_languages, no_209 = self.tree(), self.tree(), self.tree()
        del no_203[1001][203]
        del no_209[1001][209]
        archive_crc, wmfdist_crc = self.crcs()
        two_languages[1001][207][0x409] = two_languages[1001][207][0x411]
        image = make_pe(self.tree())
        differs = "resource 207 (payload archive) differs from %s first at byte %%d" % self.path("archive.bin")
        for data, message in [
                (make_pe(self.tree(archive=bytes(changed))), differs % 150000),
                # Embedded plain instead of scrambled: the second chunk does not come back.
                (make_pe(self.tree(scramble=bytes)), differs % 100000),
                (make_pe(self.tree(wmfdist=self.wmfdist[:-1])), "resource 203 (wmfdist.exe) unscrambles to 119999 bytes, but"),
                (make_pe(no_203), "no resource 203 of type 1001"),
                (make_pe(no_209), "no resource 209 of type 1001"),
                (make_pe(self.tree(checksums=struct.pack("<II", *self.crcs())[:7])),
                 "resource 209 (checksums) has 7 bytes; 8 are expected"),
                (make_pe(self.tree(checksums=struct.pack("<II", wmfdist_crc, archive_crc))),
                 "resource 209 (checksums) holds 0x%08X for resource 207 and 0x%08X for resource 203; "
                 "the payloads give 0x%08X and 0x%08X" % (wmfdist_crc, archive_crc, archive_crc, wmfdist_crc)),
                (make_pe(two_languages), "resource 207 of type 1001 exists in 2 languages"),
                (make_pe({6: {7: {0x411: b"strings"}}}), "no resources of type 1001"),
                (make_pe({}, with_resources=False), "the PE file has no resources"),
                (b"just some text, not an executable" * 10, "not a PE file"),
                (image[:len(image) // 2], "lies outside the file")]:  # cut off inside the resource data
            result = self.verify(data)
            self.assertEqual(1, result.returncode, message)
            self.assertIn(message, result.stderr.decode("utf-8", "replace"))
        result = run("verify", self.path("missing.exe"), self.path("archive.bin"), self.path("wmfdist.exe"))
        self.assertEqual(1, result.returncode)
        self.assertIn(b"No such file or directory", result.stderr)


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit("usage: payloadtool_test.py <payloadtool> [unittest arguments]")
    TOOL = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
