#!/usr/bin/env python3
"""The payloads inside the finished PivoraSetup.exe: `payloadtool verify` accepts the executable
that the build made, and refuses copies of it whose embedded payload bytes were changed.

    embedded_test.py <payloadtool> <PivoraSetup.exe> <plain archive> <plain wmfdist.exe>
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

TOOL = EXE = ARCHIVE = WMFDIST = None


def read(path):
    with open(path, "rb") as f:
        return f.read()


class EmbeddedPayloadTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="payloadtool-embedded-")
        self.image = read(EXE)

    def tearDown(self):
        shutil.rmtree(self.dir)

    def verify(self, image):
        path = os.path.join(self.dir, "PivoraSetup.exe")
        with open(path, "wb") as f:
            f.write(image)
        return subprocess.run([TOOL, "verify", path, ARCHIVE, WMFDIST], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE)

    def locate(self, payload_path):
        """Offset of the payload's scrambled bytes in the executable; they occur exactly once."""
        out = os.path.join(self.dir, "scrambled")
        self.assertEqual(0, subprocess.run([TOOL, "scramble", payload_path, out]).returncode)
        stored = read(out)
        at = self.image.find(stored)
        self.assertNotEqual(-1, at, "the scrambled %s is not in %s" % (payload_path, EXE))
        self.assertEqual(-1, self.image.find(stored, at + 1))
        return at, len(stored)

    def test_built_executable_carries_the_scrambled_payloads(self):
        result = self.verify(self.image)
        self.assertEqual(0, result.returncode, result.stderr.decode("utf-8", "replace"))
        self.assertIn(b"resource 207 (payload archive) matches", result.stdout)
        self.assertIn(b"resource 203 (wmfdist.exe) matches", result.stdout)
        self.assertIn(b"resource 209 (checksums) matches", result.stdout)
        for path in (ARCHIVE, WMFDIST):
            self.locate(path)
            # More than one chunk travels scrambled: the second chunk is not in it plain.
            plain = read(path)
            if len(plain) > 100000 + 64:
                self.assertEqual(-1, self.image.find(plain[100000:100064]), "%s embedded plain" % path)

    def test_tampered_executable_fails(self):
        # One changed byte: in a scrambled chunk the running exclusive-or carries the change to
        # the chunk's end, and verify reports where it starts.
        for path, name in ((ARCHIVE, "207 (payload archive)"), (WMFDIST, "203 (wmfdist.exe)")):
            at, size = self.locate(path)
            offset = min(size - 1, 100000 + 17) if size > 100000 else size // 2
            tampered = bytearray(self.image)
            tampered[at + offset] ^= 0x40
            result = self.verify(bytes(tampered))
            self.assertEqual(1, result.returncode)
            self.assertIn(("resource %s differs from %s first at byte %d" % (name, path, offset)).encode(),
                          result.stderr)
        # An executable whose resource section was cut off.
        result = self.verify(self.image[:at])
        self.assertEqual(1, result.returncode)
        self.assertNotEqual(b"", result.stderr)


if __name__ == "__main__":
    if len(sys.argv) < 5:
        sys.exit("usage: embedded_test.py <payloadtool> <PivoraSetup.exe> <archive> <wmfdist.exe>")
    TOOL, EXE, ARCHIVE, WMFDIST = (os.path.abspath(a) for a in sys.argv[1:5])
    del sys.argv[1:5]
    unittest.main(verbosity=2)
