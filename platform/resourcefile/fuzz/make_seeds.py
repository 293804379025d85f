"""Writes seed legacy preference files in the classic resource-file format,
independently of the suite's reader: keymaps, DIP switches, names, several
types, and a file without resources."""

import os
import struct
import sys


def resource_file(resources):
    """resources: list of (type, id, data, name or None)."""
    data = bytearray()
    offsets = []
    for _, _, payload, _ in resources:
        offsets.append(len(data))
        data += struct.pack(">I", len(payload)) + payload
    types = []
    for t, _, _, _ in resources:
        if t not in types:
            types.append(t)
    type_list = bytearray(struct.pack(">H", (len(types) - 1) & 0xFFFF))
    refs = bytearray()
    names = bytearray()
    ref_start = 2 + 8 * len(types)
    for t in types:
        mine = [i for i, r in enumerate(resources) if r[0] == t]
        type_list += t + struct.pack(">HH", len(mine) - 1, ref_start + len(refs))
        for i in mine:
            _, rid, _, name = resources[i]
            name_off = 0xFFFF
            if name:
                name_off = len(names)
                names += bytes([len(name)]) + name
            refs += struct.pack(">hHI", rid, name_off, offsets[i] & 0xFFFFFF) + b"\0\0\0\0"
    data_offset = 256
    map_offset = data_offset + len(data)
    body = type_list + refs
    name_list_offset = 28 + len(body)
    map_length = 28 + len(body) + len(names)
    header = struct.pack(">IIII", data_offset, map_offset, len(data), map_length)
    resource_map = header + b"\0" * 8 + struct.pack(">HH", 28, name_list_offset) + body + names
    return header + b"\0" * (data_offset - 16) + data + resource_map


table = bytes((i * 5) % 128 for i in range(256))
seeds = {
    "keymaps-and-dip": resource_file([(b"KcoD", 101, table, None), (b"KcoD", 104, table[::-1], b"JIS"),
                                      (b"DSsw", 128, struct.pack(">HHHH", 1, 0, 1, 0), b"DIP")]),
    "ansi-only": resource_file([(b"KcoD", 101, table, None)]),
    "odd-sizes": resource_file([(b"KcoD", 0, table + b"\0", None), (b"KcoD", -1, b"", None)]),
    "no-resources": resource_file([]),
}

out = sys.argv[1]
for name, data in seeds.items():
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)
