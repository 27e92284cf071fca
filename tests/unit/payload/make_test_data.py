#!/usr/bin/env python3
"""Writes the plain inputs of the payload tests into the given folder, the same bytes every time.

  make_test_data.py <folder> <size>...

  plain_<size>.bin  payload resources of the sizes around the chunking limits
  empty.bin         an empty resource
  junk/             not a program: setup.exe and wmfdist.exe that cannot be started
  junk.bin          not an archive
  many/             setup.exe and five more files of 60,000 bytes each, for an archive with entry
                    headers in every chunk
"""
import os
import random
import shutil
import sys

out, sizes = sys.argv[1], [int(size) for size in sys.argv[2:]]
for folder in ("junk", "many"):
    shutil.rmtree(os.path.join(out, folder), ignore_errors=True)
junk = b"This is not a program.\r\n" * 50
files = {"plain_%d.bin" % size: random.Random(size).randbytes(size) for size in sizes}
files.update({"empty.bin": b"", "junk/setup.exe": junk, "junk.bin": junk})
files.update({"many/%s" % name: random.Random(i).randbytes(60000)
              for i, name in enumerate(["setup.exe"] + ["part%d.bin" % i for i in range(1, 6)])})
for name, data in files.items():
    os.makedirs(os.path.dirname(os.path.join(out, name)), exist_ok=True)
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)
