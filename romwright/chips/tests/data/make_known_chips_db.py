#!/usr/bin/env python3
"""Writes known_chips.db: a chip database of four records, worked out here from
the file format alone (not from the C++ code), as the known answer the chip
database tests load and build against.

File: a 100-byte header (u16 LE record count, u8 checksum = 8-bit sum of all
record bytes, the rest 0) followed by 108-byte records, all stored scrambled.
Scrambling: a multiplicative generator, state = state * 16807 kept to its low
31 bits; each value is state + (state >> 16), low 8 bits. Every stored byte is
the plain byte plus the next value plus the byte offset 0x3C (modulo 256); the
generator starts from the seed 0x2F6B1D53 and runs over the header and then
the records.

Usage: make_known_chips_db.py [OUT]   (default: known_chips.db beside this script)
"""
import os
import struct
import sys

SEED = 0x2F6B1D53
OFFSET = 0x3C

# type, name, manufacturer, mode, voltage, capacity, page_write, page_size,
# manufacturer id, device id, address bits, organisation. The C++ test lists
# the same values field by field.
RECORDS = [
    (0, "EN25T80", "Eon", 0, 33, 1048576, 1, 256, 0x1C, 0x13, 0, 0),
    (1, "AT24C1024", "Atmel", 2, 50, 131072, 1, 256, 0x00, 0xFE, 0, 0),
    (2, "25LC640", "Microchip", 1, 41, 8192, 0x01020304, 32, 0xA5, 0x5A, 0, 0),
    (3, "93C86 (x16) 0123456789ABCDEFGHIJKLMNOPQ", "Microchip/Atmel/ST", 7, 50, 16777216, 0, 0x8000,
     0xFF, 0x80, 10, 16),
]


def record_bytes(r):
    typ, name, manu, mode, volt, cap, pw, ps, mid, did, bits, org = r
    assert len(name) <= 39 and len(manu) <= 19  # room for the terminating NUL
    b = bytearray(108)
    struct.pack_into("<I", b, 0, typ)
    b[4:4 + len(name)] = name.encode("ascii")
    b[44:44 + len(manu)] = manu.encode("ascii")
    b[64] = mode
    b[65] = volt
    struct.pack_into("<IIH", b, 68, cap, pw, ps)
    b[78] = mid
    b[79] = did
    b[80] = bits
    b[81] = org
    return bytes(b)


def scramble(plain):
    state = SEED
    out = bytearray()
    for p in plain:
        state = (state * 16807) & 0x7FFFFFFF
        value = (state + (state >> 16)) & 0xFF
        out.append((p + value + OFFSET) & 0xFF)
    return bytes(out)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                             "known_chips.db")
    records = b"".join(record_bytes(r) for r in RECORDS)
    header = bytearray(100)
    struct.pack_into("<HB", header, 0, len(RECORDS), sum(records) & 0xFF)
    with open(out, "wb") as f:
        f.write(scramble(bytes(header) + records))


if __name__ == "__main__":
    main()
