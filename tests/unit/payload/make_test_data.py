#!/usr/bin/env python3
"""Writes the plain inputs of the payload tests into the given folder, the same bytes every time.

  make_test_data.py <folder> <size>...

  plain_<size>.bin  payload resources of the sizes around the chunking limits
  empty.bin         an empty resource
  tree/             a folder for the archive tests: setup.exe, an empty file, a 2,500-byte file,
                    and a file in sub/
  kanji/            setup.exe and "表示.txt": 表 is 0x95 0x5C in code page 932, its second byte a backslash
  junk/             not a program: setup.exe and wmfdist.exe that cannot be started
  junk.bin          not an archive
"""
import os
import random
import shutil
import sys

out, sizes = sys.argv[1], [int(size) for size in sys.argv[2:]]
for folder in ("tree", "kanji", "junk"):
    shutil.rmtree(os.path.join(out, folder), ignore_errors=True)
junk = b"This is not a program.\r\n" * 50
files = {"plain_%d.bin" % size: random.Random(size).randbytes(size) for size in sizes}
files.update({"empty.bin": b"", "tree/setup.exe": random.Random(1).randbytes(4000), "tree/empty.dat": b"",
              "tree/piece.bin": random.Random(2).randbytes(2500), "tree/sub/inner.bin": random.Random(3).randbytes(1500),
              "kanji/setup.exe": random.Random(4).randbytes(100), "kanji/\u8868\u793a.txt": random.Random(5).randbytes(300),
              "junk/setup.exe": junk, "junk.bin": junk})
for name, data in files.items():
    os.makedirs(os.path.dirname(os.path.join(out, name)), exist_ok=True)
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)
