#!/usr/bin/env python3
"""Writes the benchmark's installer folder: the same bytes every time for a given size.

  make_payload.py <folder> <MiB>

Any size: the bytes are drawn and written in pieces of 16 MiB.

Several files, one large: about three quarters of the size in one file, the rest in six medium
files and a small one, beside setup.exe and an empty file; all at the top of the folder (the
extraction makes no folders).
"""
import os
import random
import shutil
import sys

PIECE = 16 << 20


def main():
    folder, mib = sys.argv[1], int(sys.argv[2])
    total = mib << 20
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    rng = random.Random(mib)

    def write(name, size):
        # In pieces: one randbytes() call overflows at 256 MiB. Pieces of whole 32-bit words
        # draw the same bytes as one call would.
        with open(os.path.join(folder, name), "wb") as f:
            for at in range(0, size, PIECE):
                f.write(rng.randbytes(min(PIECE, size - at)))
        return size

    left = total
    left -= write("setup.exe", 200 * 1024)
    left -= write("empty.dat", 0)
    left -= write("readme.txt", 10 * 1024 + 7)
    medium = left // 4 // 6
    left -= sum(write("part%02d.bin" % i, medium) for i in range(6))
    write("big.bin", left)


if __name__ == "__main__":
    main()
