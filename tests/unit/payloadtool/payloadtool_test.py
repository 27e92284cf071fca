#!/usr/bin/env python3
"""Tests of the host payloadtool: pack/list, scramble/unscramble, verify, and its refusals.

    payloadtool_test.py <path of payloadtool> [unittest arguments]

Expected archive bytes, code page 932 names and scrambled bytes are computed here from the
format's rules, independently of the tool.
"""
import os
import random
import shutil
import socket
import stat
import struct
import subprocess
import sys
import tempfile
import unittest

TOOL = None

ARCHIVE_HEADER = 24
ENTRY_HEADER = 284
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
    """The archive as (declared total, header reserved bytes, [(size, reserved, name, content)])."""
    total, = struct.unpack_from("<Q", data, 0)
    assert data[8:12] == b"PK24", data[8:12]
    entries = []
    pos = ARCHIVE_HEADER
    while pos < len(data):
        size, = struct.unpack_from("<Q", data, pos)
        reserved = data[pos + 8:pos + 20]
        field = data[pos + 20:pos + ENTRY_HEADER]
        pos += ENTRY_HEADER
        entries.append((size, reserved, field, data[pos:pos + size]))
        pos += size
    return total, data[12:24], entries


def name_field(name):
    encoded = name.encode("cp932")
    return encoded + b"\0" * (NAME_FIELD - len(encoded))


def chunk_size(total):
    return 1000000 if total >= 3000000 else 100000


def reference_scramble(plain):
    """stored[0] = plain[0] ^ seed, stored[k] = plain[k] ^ plain[k-1] in chunks 1 and 2."""
    out = bytearray(plain)
    chunk = chunk_size(len(plain))
    for index, seed in ((1, 0x5E), (2, 0x27)):
        start = chunk * index
        end = min(start + chunk, len(plain))
        if start >= len(plain):
            break
        part = plain[start:end]
        previous = bytes([seed]) + part[:-1]
        mixed = int.from_bytes(part, "big") ^ int.from_bytes(previous, "big")
        out[start:end] = mixed.to_bytes(len(part), "big")
    return bytes(out)


def make_pe(tree, magic=0x10B, with_resources=True):
    """A minimal PE image whose resource section holds tree: {type: {id: {lang: bytes}}}."""
    section_rva = 0x1000
    types = sorted(tree)
    offset = 16 + 8 * len(types)
    type_dirs, id_dirs, entries, blobs = {}, {}, {}, {}
    for t in types:
        type_dirs[t] = offset
        offset += 16 + 8 * len(tree[t])
    for t in types:
        for i in sorted(tree[t]):
            id_dirs[t, i] = offset
            offset += 16 + 8 * len(tree[t][i])
    for t in types:
        for i in sorted(tree[t]):
            for lang in sorted(tree[t][i]):
                entries[t, i, lang] = offset
                offset += 16
    for t in types:
        for i in sorted(tree[t]):
            for lang in sorted(tree[t][i]):
                blobs[t, i, lang] = offset
                offset += (len(tree[t][i][lang]) + 3) & ~3
    rsrc = bytearray(max(offset, 16))

    def put_dir(at, children):
        struct.pack_into("<IIHHHH", rsrc, at, 0, 0, 0, 0, 0, len(children))
        for k, (name, target) in enumerate(children):
            struct.pack_into("<II", rsrc, at + 16 + 8 * k, name, target)

    put_dir(0, [(t, 0x80000000 | type_dirs[t]) for t in types])
    for t in types:
        put_dir(type_dirs[t], [(i, 0x80000000 | id_dirs[t, i]) for i in sorted(tree[t])])
        for i in sorted(tree[t]):
            put_dir(id_dirs[t, i], [(lang, entries[t, i, lang]) for lang in sorted(tree[t][i])])
            for lang in sorted(tree[t][i]):
                data = tree[t][i][lang]
                struct.pack_into("<IIII", rsrc, entries[t, i, lang], section_rva + blobs[t, i, lang],
                                 len(data), 0, 0)
                rsrc[blobs[t, i, lang]:blobs[t, i, lang] + len(data)] = data

    directories_at = 96 if magic == 0x10B else 112
    optional = bytearray(directories_at + 16 * 8)
    struct.pack_into("<H", optional, 0, magic)
    struct.pack_into("<I", optional, directories_at - 4, 16)
    if with_resources:
        struct.pack_into("<II", optional, directories_at + 2 * 8, section_rva, len(rsrc))
    raw_size = (len(rsrc) + 0x1FF) & ~0x1FF
    dos = bytearray(0x40)
    dos[0:2] = b"MZ"
    struct.pack_into("<I", dos, 0x3C, 0x40)
    header = b"PE\0\0" + struct.pack("<HHIIIHH", 0x14C, 1, 0, 0, 0, len(optional), 0x102)
    section = struct.pack("<8sIIIIIIHHI", b".rsrc", len(rsrc), section_rva, raw_size, 0x200,
                          0, 0, 0, 0, 0x40000040)
    image = bytearray(dos + header + optional + section)
    image += b"\0" * (0x200 - len(image))
    image += rsrc + b"\0" * (raw_size - len(rsrc))
    return bytes(image)


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

    def assert_refused(self, result, message):
        """A refusal: exit status 1, the message on stderr, and nothing left in the output folder."""
        stderr = result.stderr.decode("utf-8", "replace")
        self.assertEqual(1, result.returncode, "exit status; stderr: %s" % stderr)
        self.assertIn(message, stderr)
        self.assertEqual([], os.listdir(self.out), "files left in the output folder")


class PackListTest(ToolTestCase):
    def test_round_trip_with_nested_folders_and_cp932_names(self):
        src = self.path("in")
        rng = random.Random(7)
        # ソ, 表 and 能 have 0x5C as their second byte in code page 932; ｱ is one byte.
        files = {
            "setup.exe": b"MZ" + rng.randbytes(5000),
            "Readme.txt": b"hello\r\n",
            "empty.dat": b"",
            "ソフト/表示.txt": "表示のテスト".encode("cp932"),
            "ソフト/能力/深い/ｱｲｳ.bin": rng.randbytes(2500),
            "data/a/b/c/d.txt": b"deep",
        }
        for name, data in files.items():
            write(os.path.join(src, *name.split("/")), data)
        os.mkdir(self.path("in", "empty folder"))
        archive = self.path("out", "a.pk24")

        result = run("pack", src, archive)
        self.assertEqual(0, result.returncode, result.stderr)
        self.assertEqual(b"", result.stderr)
        data = read(archive)
        total, reserved, entries = parse_archive(data)
        self.assertEqual(len(data), total)
        self.assertEqual(b"\0" * 12, reserved)
        expected_size = ARCHIVE_HEADER + sum(ENTRY_HEADER + len(d) for d in files.values())
        self.assertEqual(expected_size, len(data))
        self.assertEqual(len(files), len(entries))
        got = {}
        for size, entry_reserved, field, content in entries:
            self.assertEqual(b"DRAW" + b"\0" * 8, entry_reserved)
            self.assertEqual(len(content), size)
            got[field] = content
        for name, content in files.items():
            field = name_field(name.replace("/", "\\"))
            self.assertIn(field, got, "no entry named %s" % name)
            self.assertEqual(content, got[field], "content of %s" % name)

        # Packing is deterministic: same folder, same bytes.
        again = self.path("out", "b.pk24")
        self.assertEqual(0, run("pack", src, again).returncode)
        self.assertEqual(data, read(again))
        os.remove(again)

        listed = run("list", archive)
        self.assertEqual(0, listed.returncode, listed.stderr)
        lines = listed.stdout.decode("utf-8").splitlines()
        self.assertEqual("%d entries, %d bytes" % (len(files), len(data)), lines[-1])
        expected_lines = sorted("%d\t%s" % (len(d), n.replace("/", "\\")) for n, d in files.items())
        self.assertEqual(expected_lines, sorted(lines[:-1]))

    def test_name_length_is_counted_in_cp932_bytes(self):
        src = self.path("in")
        write(self.path("in", "setup.exe"), b"x")
        # 80 + 51 hiragana: 393 bytes in UTF-8, but 160 + 1 + 102 = 263 bytes in code page 932.
        write(self.path("in", "あ" * 80, "あ" * 51), b"fits")
        archive = self.path("out", "a.pk24")
        result = run("pack", src, archive)
        self.assertEqual(0, result.returncode, result.stderr)
        names = [field for _, _, field, _ in parse_archive(read(archive))[2]]
        longest = max(len(n.rstrip(b"\0")) for n in names)
        self.assertEqual(263, longest)
        self.assertEqual(b"\0", names[[len(n.rstrip(b"\0")) for n in names].index(263)][263:264])

        os.remove(archive)
        write(self.path("in", "あ" * 80, "あ" * 51 + "x"), b"one byte too long")
        self.assert_refused(run("pack", src, archive), "264 bytes long in code page 932; at most 263 fit")

    def test_pack_refusals(self):
        archive = self.path("out", "a.pk24")

        def fresh(name, files):
            folder = self.path(name)
            for rel, data in files.items():
                write(os.path.join(folder, *rel.split("/")), data)
            return folder

        self.assert_refused(run("pack", self.path("missing"), archive), "No such file or directory")
        write(self.path("plain.txt"), b"x")
        self.assert_refused(run("pack", self.path("plain.txt"), archive), "not a folder")
        self.assert_refused(run("pack", fresh("nosetup", {"install.exe": b"x"}), archive),
                            "no setup.exe at the top of the folder")
        self.assert_refused(run("pack", fresh("deepsetup", {"sub/setup.exe": b"x"}), archive),
                            "no setup.exe at the top of the folder")
        os.mkdir(self.path("emptydir"))
        self.assert_refused(run("pack", self.path("emptydir"), archive), "no setup.exe")

        for index, (bad, message) in enumerate([("caf\u00e9.txt", "not representable in code page 932"),
                             ("\u00a5100.txt", "not representable in code page 932"),
                             ("smile\U0001F600.txt", "not representable in code page 932"),
                             ("wave\u301c.txt", "not representable in code page 932"),
                             ("a:b.txt", "contains ':'"),
                             ("what?.txt", "contains '?'"),
                             ("back\\slash.txt", "contains '\\'"),
                             ("NUL.txt", "reserved device name"),
                             ("com1", "reserved device name"),
                             ("CONOUT$.log", "reserved device name"),
                             ("aux .txt", "reserved device name"),
                             ("dot.", "ends with a dot or a blank")]):
            folder = fresh("bad-%d" % index, {"setup.exe": b"x", "sub/" + bad: b"y"})
            self.assert_refused(run("pack", folder, archive), message)

        folder = fresh("badutf8", {"setup.exe": b"x"})
        with open(os.path.join(os.fsencode(folder), b"\xff\xfe.txt"), "wb"):
            pass
        self.assert_refused(run("pack", folder, archive), "not representable in code page 932")

        folder = fresh("case", {"setup.exe": b"x", "Readme.txt": b"1", "README.TXT": b"2"})
        self.assert_refused(run("pack", folder, archive), "differs only in case")

        folder = fresh("link", {"setup.exe": b"x", "target.txt": b"y"})
        os.symlink("target.txt", os.path.join(folder, "link.txt"))
        self.assert_refused(run("pack", folder, archive), "not a plain file or folder (a symbolic link)")

        folder = fresh("fifo", {"setup.exe": b"x"})
        os.mkfifo(os.path.join(folder, "pipe"))
        self.assert_refused(run("pack", folder, archive), "not a plain file or folder")

        folder = fresh("socket", {"setup.exe": b"x"})
        sock = socket.socket(socket.AF_UNIX)
        sock.bind(os.path.join(folder, "sock"))
        sock.close()
        self.assert_refused(run("pack", folder, archive), "not a plain file or folder")

        # The archive must not end up packing itself.
        folder = fresh("self", {"setup.exe": b"x"})
        result = run("pack", folder, os.path.join(folder, "self.pk24"))
        self.assertEqual(1, result.returncode)
        self.assertIn(b"cannot be written inside the folder that it packs", result.stderr)
        self.assertEqual(["setup.exe"], os.listdir(folder))

        # An output folder that does not exist.
        folder = fresh("ok", {"setup.exe": b"x"})
        self.assert_refused(run("pack", folder, self.path("out", "nowhere", "a.pk24")), "cannot create")

        if os.geteuid() != 0:
            folder = fresh("locked", {"setup.exe": b"x", "sub/f.txt": b"y"})
            os.chmod(os.path.join(folder, "sub"), 0)
            self.assert_refused(run("pack", folder, archive), "cannot read the folder")
            os.chmod(os.path.join(folder, "sub"), 0o755)
            os.chmod(os.path.join(folder, "sub", "f.txt"), 0)
            self.assert_refused(run("pack", folder, archive), "Permission denied")

    def test_existing_output_survives_a_refusal(self):
        archive = self.path("out", "a.pk24")
        write(archive, b"previous")
        write(self.path("nosetup", "x.txt"), b"x")
        result = run("pack", self.path("nosetup"), archive)
        self.assertEqual(1, result.returncode)
        self.assertEqual(b"previous", read(archive))
        self.assertEqual(["a.pk24"], os.listdir(self.out))

    def test_list_refusals(self):
        good = bytearray(ARCHIVE_HEADER)
        good[8:12] = b"PK24"
        entry = bytearray(ENTRY_HEADER)
        struct.pack_into("<Q", entry, 0, 5)
        entry[8:12] = b"DRAW"
        entry[20:29] = b"setup.exe"
        body = bytes(entry) + b"hello"
        struct.pack_into("<Q", good, 0, ARCHIVE_HEADER + len(body))
        archive = bytes(good) + body
        write(self.path("good.pk24"), archive)
        result = run("list", self.path("good.pk24"))
        self.assertEqual(0, result.returncode, result.stderr)
        self.assertEqual(b"5\tsetup.exe\n1 entries, 313 bytes\n", result.stdout)

        def refused(data, message):
            write(self.path("bad.pk24"), data)
            result = run("list", self.path("bad.pk24"))
            self.assertEqual(1, result.returncode, message)
            self.assertIn(message, result.stderr.decode("utf-8", "replace"))

        refused(archive[:20], "20 bytes, too short for the 24-byte archive header")
        refused(archive[:8] + b"PK23" + archive[12:], "not a PK24 archive")
        too_big = bytearray(archive)
        struct.pack_into("<Q", too_big, 0, len(archive) + 284)
        refused(bytes(too_big), "declares a total size of 597 bytes, but the entries fill 313 bytes")
        too_small = bytearray(archive)
        struct.pack_into("<Q", too_small, 0, 24)
        refused(bytes(too_small), "declares a total size of 24 bytes, but the entries fill 313 bytes")
        refused(archive[:-1], "entry 1 at offset 24 \"setup.exe\" declares 5 bytes, but only 4 follow")
        refused(archive + b"\0" * 100, "the file ends inside the header of entry 2 at offset 313")
        negative = bytearray(archive)
        struct.pack_into("<Q", negative, 24, 1 << 63)
        refused(bytes(negative), "declares 9223372036854775808 bytes")
        no_nul = bytearray(archive)
        no_nul[44:44 + NAME_FIELD] = b"a" * NAME_FIELD
        refused(bytes(no_nul), "the name has no terminating NUL")
        bad_name = bytearray(archive)
        bad_name[44:47] = b"\x85\x40\x00"  # a code point that code page 932 leaves unassigned
        refused(bytes(bad_name), "not valid code page 932")
        refused(b"", "0 bytes, too short")
        self.assertEqual(1, run("list", self.path("missing.pk24")).returncode)


class ScrambleTest(ToolTestCase):
    SIZES = [100000, 100001, 250000, 450000, 2999999, 3000000, 3000001]

    def test_scramble_follows_the_chunk_rule_and_unscrambles(self):
        rng = random.Random(1)
        for size in self.SIZES:
            with self.subTest(size=size):
                plain = rng.randbytes(size)
                write(self.path("plain.bin"), plain)
                stored_path = self.path("out", "stored.bin")
                back_path = self.path("out", "back.bin")
                result = run("scramble", self.path("plain.bin"), stored_path)
                self.assertEqual(0, result.returncode, result.stderr)
                stored = read(stored_path)
                self.assertEqual(size, len(stored))
                expected = reference_scramble(plain)
                if stored != expected:
                    first = next(i for i in range(size) if stored[i] != expected[i])
                    self.fail("size %d: first wrong scrambled byte at %d: %#x, expected %#x"
                              % (size, first, stored[first], expected[first]))
                result = run("unscramble", stored_path, back_path)
                self.assertEqual(0, result.returncode, result.stderr)
                self.assertTrue(read(back_path) == plain, "size %d does not round-trip" % size)
                os.remove(stored_path)
                os.remove(back_path)

    def test_known_positions(self):
        def stored_of(plain):
            write(self.path("p.bin"), plain)
            self.assertEqual(0, run("scramble", self.path("p.bin"), self.path("out", "s.bin")).returncode)
            data = read(self.path("out", "s.bin"))
            os.remove(self.path("out", "s.bin"))
            return data

        # Bytes of one value make the rule visible: a scrambled chunk starts with value ^ seed
        # and continues with zeros; a plain chunk keeps the value.
        s = stored_of(b"\xAA" * 250000)
        self.assertEqual(0xAA, s[99999])
        self.assertEqual(0xAA ^ 0x5E, s[100000])
        self.assertEqual(0, s[100001])
        self.assertEqual(0, s[199999])
        self.assertEqual(0xAA ^ 0x27, s[200000])
        self.assertEqual(0, s[249999])

        s = stored_of(b"\x11" * 100000)
        self.assertEqual(b"\x11" * 100000, s, "one chunk is stored plain")

        s = stored_of(b"\x11" * 100001)
        self.assertEqual(b"\x11" * 100000 + bytes([0x11 ^ 0x5E]), s)

        s = stored_of(b"\x33" * 2999999)
        self.assertEqual((0x33, 0x33 ^ 0x5E, 0x33 ^ 0x27, 0x33, 0x33), (s[0], s[100000], s[200000], s[300000], s[2999998]))

        s = stored_of(b"\x33" * 3000000)
        self.assertEqual((0x33, 0x33, 0x33 ^ 0x5E, 0, 0x33 ^ 0x27, 0),
                         (s[100000], s[999999], s[1000000], s[1999999], s[2000000], s[2999999]))

        s = stored_of(b"\x33" * 3000001)
        self.assertEqual(0x33, s[3000000], "the fourth chunk is stored plain")

        # Within a scrambled chunk each byte is mixed with the plain byte before it.
        s = stored_of(bytes(range(256)) * 1000)
        self.assertEqual(100000 % 256 ^ 0x5E, s[100000])
        self.assertEqual(((100001 % 256) ^ (100000 % 256)), s[100001])

    def test_refusals(self):
        write(self.path("empty.bin"), b"")
        self.assert_refused(run("scramble", self.path("empty.bin"), self.path("out", "s.bin")),
                            "the file is empty")
        self.assert_refused(run("scramble", self.path("missing.bin"), self.path("out", "s.bin")),
                            "No such file or directory")
        self.assert_refused(run("unscramble", self.dir, self.path("out", "s.bin")), "not a plain file")
        result = run("scramble", self.path("empty.bin"))
        self.assertEqual(2, result.returncode)
        self.assertIn(b"usage:", result.stderr)


class VerifyTest(ToolTestCase):
    def setUp(self):
        super().setUp()
        rng = random.Random(3)
        self.archive = rng.randbytes(250000)
        self.wmfdist = rng.randbytes(120000)
        write(self.path("archive.bin"), self.archive)
        write(self.path("wmfdist.exe"), self.wmfdist)

    def verify(self, image):
        write(self.path("test.exe"), image)
        return run("verify", self.path("test.exe"), self.path("archive.bin"), self.path("wmfdist.exe"))

    def tree(self, archive=None, wmfdist=None):
        return {1001: {207: {0x411: reference_scramble(archive or self.archive)},
                       203: {0x411: reference_scramble(wmfdist or self.wmfdist)}},
                6: {7: {0x411: b"strings"}}}

    def test_matching_resources_pass_in_pe32_and_pe32_plus(self):
        for magic in (0x10B, 0x20B):
            result = self.verify(make_pe(self.tree(), magic))
            self.assertEqual(0, result.returncode, result.stderr)
            self.assertIn(b"resource 207 (payload archive) matches", result.stdout)
            self.assertIn(b"resource 203 (wmfdist.exe) matches", result.stdout)

    def test_mismatches_and_missing_resources(self):
        changed = bytearray(self.archive)
        changed[150000] ^= 1
        result = self.verify(make_pe(self.tree(archive=bytes(changed))))
        self.assertEqual(1, result.returncode)
        self.assertIn(b"resource 207 (payload archive) differs from", result.stderr)
        self.assertIn(b"first at byte 150000", result.stderr)
        self.assertIn(b"resource 203 (wmfdist.exe) matches", result.stdout)

        # Embedded plain instead of scrambled: the second chunk does not come back.
        tree = self.tree()
        tree[1001][207][0x411] = self.archive
        result = self.verify(make_pe(tree))
        self.assertEqual(1, result.returncode)
        self.assertIn(b"first at byte 100000", result.stderr)

        result = self.verify(make_pe(self.tree(wmfdist=self.wmfdist[:-1])))
        self.assertEqual(1, result.returncode)
        self.assertIn(b"resource 203 (wmfdist.exe) unscrambles to 119999 bytes, but", result.stderr)

        tree = self.tree()
        del tree[1001][203]
        result = self.verify(make_pe(tree))
        self.assertEqual(1, result.returncode)
        self.assertIn(b"no resource 203 of type 1001", result.stderr)

        tree = self.tree()
        tree[1001][207][0x409] = tree[1001][207][0x411]
        result = self.verify(make_pe(tree))
        self.assertEqual(1, result.returncode)
        self.assertIn(b"resource 207 of type 1001 exists in 2 languages", result.stderr)

        result = self.verify(make_pe({6: {7: {0x411: b"strings"}}}))
        self.assertEqual(1, result.returncode)
        self.assertIn(b"no resources of type 1001", result.stderr)

        result = self.verify(make_pe({}, with_resources=False))
        self.assertEqual(1, result.returncode)
        self.assertIn(b"the PE file has no resources", result.stderr)

        result = self.verify(b"just some text, not an executable" * 10)
        self.assertEqual(1, result.returncode)
        self.assertIn(b"not a PE file", result.stderr)

        # Cut off inside the resource data: the data lies outside the file.
        image = make_pe(self.tree())
        result = self.verify(image[:len(image) // 2])
        self.assertEqual(1, result.returncode)
        self.assertIn(b"lies outside the file", result.stderr)

        result = run("verify", self.path("missing.exe"), self.path("archive.bin"), self.path("wmfdist.exe"))
        self.assertEqual(1, result.returncode)
        self.assertIn(b"No such file or directory", result.stderr)


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit("usage: payloadtool_test.py <payloadtool> [unittest arguments]")
    TOOL = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
