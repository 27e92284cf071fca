#!/usr/bin/env python3
"""Writes the plain inputs of the payload tests into the given folder, the same bytes every time.

  plain_<size>.bin  payload resources of the sizes around the chunking limits
  empty.bin         an empty resource
  tree/             a folder for the archive tests: setup.exe, an empty file, a 2,500-byte file,
                    and a file in sub/
  kanji/            setup.exe and a name whose second byte is 0x5C in code page 932
  junk/             not a program: setup.exe and wmfdist.exe that cannot be started
  junk.bin          not an archive
"""
import os
import random
import shutil
import sys

SIZES = (100000, 250000, 450000, 2999999, 3000000)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def main():
    out = sys.argv[1]
    for folder in ("tree", "kanji", "junk"):
        shutil.rmtree(os.path.join(out, folder), ignore_errors=True)
    for size in SIZES:
        write(os.path.join(out, "plain_%d.bin" % size), random.Random(size).randbytes(size))
    write(os.path.join(out, "empty.bin"), b"")

    tree = os.path.join(out, "tree")
    write(os.path.join(tree, "setup.exe"), random.Random(1).randbytes(4000))
    write(os.path.join(tree, "empty.dat"), b"")
    write(os.path.join(tree, "piece.bin"), random.Random(2).randbytes(2500))
    write(os.path.join(tree, "sub", "inner.bin"), random.Random(3).randbytes(1500))

    # "表示.txt": 表 is 0x95 0x5C in code page 932, its second byte a backslash.
    kanji = os.path.join(out, "kanji")
    write(os.path.join(kanji, "setup.exe"), random.Random(4).randbytes(100))
    write(os.path.join(kanji, "\u8868\u793a.txt"), random.Random(5).randbytes(300))

    junk = b"This is not a program.\r\n" * 50
    write(os.path.join(out, "junk", "setup.exe"), junk)
    write(os.path.join(out, "junk.bin"), junk)


if __name__ == "__main__":
    main()
