#!/usr/bin/env python3
"""Damaged copies of a finished setup program, for the end-to-end tests, written into a folder:
  207-first.exe, 207-middle.exe, 207-last.exe, and the same for 203: one byte of the stored
      payload changed in its first, a middle and its last chunk;
  209-removed.exe: without the checksums resource;
  209-short.exe: the checksums resource cut to its first 4 bytes (the archive's right CRC-32).

    damage.py <setup program> <folder>
"""
import os
import sys

import pefile


def payload_entries(pe):
    """{resource id: data entry struct} of the type-1001 resources, and that type's directory."""
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.id == 1001:
            names = entry.directory.entries
            return {name.id: name.directory.entries[0].data.struct for name in names}, entry.directory
    sys.exit("no resources of type 1001")


def main():
    source, folder = sys.argv[1:3]
    os.makedirs(folder, exist_ok=True)
    image = open(source, "rb").read()
    pe = pefile.PE(data=image)
    entries, directory = payload_entries(pe)

    def save(name, data):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)

    for rid in (207, 203):
        at, size = pe.get_offset_from_rva(entries[rid].OffsetToData), entries[rid].Size
        chunk = 1000000 if size >= 3000000 else 100000
        chunks = (size + chunk - 1) // chunk
        assert chunks >= 3, "resource %d has %d chunks; three are needed" % (rid, chunks)
        # In a scrambled chunk the change runs on to the chunk's end; near its end it stays in
        # the bytes that a run without the check would not stumble over (a data file, the data
        # after the redistributable's image).
        middle = (chunks - 1) // 2
        for where, offset in ("first", 1000), ("middle", (middle + 1) * chunk - 17), ("last", size - 1):
            damaged = bytearray(image)
            damaged[at + offset] ^= 0x20
            save("%d-%s.exe" % (rid, where), bytes(damaged))

    # 209 is the highest id of the type, so the last entry of its directory: one entry fewer
    # removes it. The shortened one keeps its place and data, only its size changes.
    assert max(entries) == 209, sorted(entries)
    directory.struct.NumberOfIdEntries -= 1
    removed = bytes(pe.write())
    assert 209 not in payload_entries(pefile.PE(data=removed))[0], "209 is still there"
    save("209-removed.exe", removed)
    directory.struct.NumberOfIdEntries += 1
    entries[209].Size = 4
    save("209-short.exe", pe.write())


if __name__ == "__main__":
    main()
