#!/usr/bin/env python3
"""The payloads inside the finished PivoraSetup.exe: `payloadtool verify` accepts the executable
that the build made, and refuses copies of it whose embedded payload bytes were changed.

    embedded_test.py <payloadtool> <PivoraSetup.exe> <plain archive> <plain wmfdist.exe>
"""
import os
import subprocess
import sys
import tempfile
import unittest


def read(path):
    with open(path, "rb") as f:
        return f.read()


class EmbeddedPayloadTest(unittest.TestCase):
    def tool(self, command, data, *args):
        """payloadtool <command> <a file that holds data> <args>."""
        with open(os.path.join(self.dir, "in"), "wb") as f:
            f.write(data)
        return subprocess.run([TOOL, command, os.path.join(self.dir, "in"), *args], capture_output=True)

    def test_verify_accepts_the_built_executable_and_refuses_changed_copies(self):
        self.dir = self.enterContext(tempfile.TemporaryDirectory(prefix="payloadtool-embedded-"))
        image, out = read(EXE), os.path.join(self.dir, "out")
        result = self.tool("verify", image, ARCHIVE, WMFDIST)
        self.assertEqual((0, 3), (result.returncode, result.stdout.count(b" matches ")), result)
        # One changed byte: in a scrambled chunk the running exclusive-or carries the change to
        # the chunk's end, and verify reports where it starts.
        for path, name in ((ARCHIVE, "207 (payload archive)"), (WMFDIST, "203 (wmfdist.exe)")):
            self.assertEqual(0, self.tool("scramble", read(path), out).returncode)
            stored = read(out)
            at = image.find(stored)
            self.assertTrue(at != -1 and image.find(stored, at + 1) == -1, "scrambled %s not once in the file" % path)
            offset = min(len(stored) - 1, 100017)
            tampered = bytearray(image)
            tampered[at + offset] ^= 0x40
            result = self.tool("verify", bytes(tampered), ARCHIVE, WMFDIST)
            self.assertEqual(1, result.returncode)
            self.assertIn(("resource %s differs from %s first at byte %d" % (name, path, offset)).encode(), result.stderr)
        result = self.tool("verify", image[:at], ARCHIVE, WMFDIST)   # the resource section cut off
        self.assertEqual((1, True), (result.returncode, b"lies outside the file" in result.stderr), result)


if __name__ == "__main__":
    if len(sys.argv) < 5:
        sys.exit("usage: embedded_test.py <payloadtool> <PivoraSetup.exe> <archive> <wmfdist.exe>")
    TOOL, EXE, ARCHIVE, WMFDIST = (os.path.abspath(a) for a in sys.argv[1:5])
    del sys.argv[1:5]
    unittest.main(verbosity=2)
