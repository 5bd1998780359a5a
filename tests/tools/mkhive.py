#!/usr/bin/env python3
"""An empty registry hive (regf): a base block and one hbin holding a root
key node and its security cell. mkhive.py FILE [ROOTNAME]"""
import struct
import sys


def cell(body):
    size = (4 + len(body) + 7) // 8 * 8
    return struct.pack('<i', -size) + body + bytes(size - 4 - len(body))


def main():
    path = sys.argv[1]
    name = (sys.argv[2] if len(sys.argv) > 2 else 'ROOT').encode('ascii')
    root_at = 0x20
    nk_len = len(cell(bytes(76 + len(name))))
    sk_at = root_at + nk_len
    nk = bytearray(76 + len(name))
    nk[0:2] = b'nk'
    # Hive entry, not deletable, ASCII name; no parent, no subkeys, no values.
    struct.pack_into('<H', nk, 2, 0x2C)
    struct.pack_into('<IIIIIIII', nk, 16, 0, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0, 0xFFFFFFFF, sk_at)
    struct.pack_into('<I', nk, 48, 0xFFFFFFFF)
    struct.pack_into('<HH', nk, 72, len(name), 0)
    nk[76:] = name
    # Self-relative descriptor without owner, group or lists.
    sd = struct.pack('<BBHIIII', 1, 0, 0x8000, 0, 0, 0, 0)
    sk = b'sk' + bytes(2) + struct.pack('<IIII', sk_at, sk_at, 1, len(sd)) + sd
    cells = cell(bytes(nk)) + cell(sk)
    hbin = bytearray(4096)
    hbin[0:4] = b'hbin'
    struct.pack_into('<II', hbin, 4, 0, 4096)
    hbin[0x20:0x20 + len(cells)] = cells
    free = 4096 - 0x20 - len(cells)
    struct.pack_into('<i', hbin, 0x20 + len(cells), free)
    base = bytearray(4096)
    base[0:4] = b'regf'
    struct.pack_into('<IIQIIIIII', base, 4, 1, 1, 0, 1, 5, 0, 1, root_at, 4096)
    struct.pack_into('<I', base, 0x2C, 1)
    x = 0
    for i in range(0, 508, 4):
        x ^= struct.unpack_from('<I', base, i)[0]
    struct.pack_into('<I', base, 0x1FC, 1 if x == 0 else 0xFFFFFFFE if x == 0xFFFFFFFF else x)
    with open(path, 'wb') as f:
        f.write(base + hbin)


main()
