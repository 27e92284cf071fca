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


def scrambled(path, directory):
    out = os.path.join(directory, os.path.basename(path) + ".scrambled")
    result = subprocess.run([TOOL, "scramble", path, out], stderr=subprocess.PIPE)
    assert result.returncode == 0, result.stderr
    return read(out)


class EmbeddedPayloadTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="payloadtool-embedded-")
        self.image = read(EXE)

    def tearDown(self):
        shutil.rmtree(self.dir)

    def verify(self, image, archive=None, wmfdist=None):
        path = os.path.join(self.dir, "PivoraSetup.exe")
        with open(path, "wb") as f:
            f.write(image)
        return subprocess.run([TOOL, "verify", path, archive or ARCHIVE, wmfdist or WMFDIST],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def locate(self, payload_path):
        """Offset of the payload's scrambled bytes in the executable; they occur exactly once."""
        stored = scrambled(payload_path, self.dir)
        at = self.image.find(stored)
        self.assertNotEqual(-1, at, "the scrambled %s is not in %s" % (payload_path, EXE))
        self.assertEqual(-1, self.image.find(stored, at + 1))
        return at, stored

    def test_built_executable_carries_the_scrambled_payloads(self):
        result = subprocess.run([TOOL, "verify", EXE, ARCHIVE, WMFDIST],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertEqual(0, result.returncode, result.stderr.decode("utf-8", "replace"))
        self.assertIn(b"resource 207 (payload archive) matches", result.stdout)
        self.assertIn(b"resource 203 (wmfdist.exe) matches", result.stdout)

        archive = read(ARCHIVE)
        self.assertEqual(b"PK24", archive[8:12])
        self.assertEqual(len(archive), int.from_bytes(archive[0:8], "little"))
        self.locate(ARCHIVE)
        self.locate(WMFDIST)
        # Payloads of more than one chunk travel scrambled: their second chunk is not in the
        # executable in plain form.
        for path in (ARCHIVE, WMFDIST):
            plain = read(path)
            if len(plain) > 100000 + 64:
                self.assertEqual(-1, self.image.find(plain[100000:100064]),
                                 "the second chunk of %s is embedded plain" % path)

    def test_tampered_executable_fails(self):
        at, stored = self.locate(ARCHIVE)
        # One changed byte inside the scrambled second chunk: the running exclusive-or carries
        # the change to the end of the chunk, and verify reports where it starts.
        offset = min(len(stored) - 1, 100000 + 17) if len(stored) > 100000 else len(stored) // 2
        tampered = bytearray(self.image)
        tampered[at + offset] ^= 0x40
        result = self.verify(bytes(tampered))
        self.assertEqual(1, result.returncode)
        self.assertIn(("resource 207 (payload archive) differs from %s first at byte %d"
                       % (ARCHIVE, offset)).encode(), result.stderr)
        self.assertIn(b"resource 203 (wmfdist.exe) matches", result.stdout)

        at, stored = self.locate(WMFDIST)
        tampered = bytearray(self.image)
        tampered[at] ^= 0x01
        result = self.verify(bytes(tampered))
        self.assertEqual(1, result.returncode)
        self.assertIn(("resource 203 (wmfdist.exe) differs from %s first at byte 0" % WMFDIST).encode(),
                      result.stderr)

        # The untouched executable against the wrong input file.
        result = self.verify(self.image, wmfdist=ARCHIVE)
        self.assertEqual(1, result.returncode)
        self.assertIn(b"resource 203 (wmfdist.exe) unscrambles to", result.stderr)

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
