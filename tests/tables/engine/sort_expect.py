#!/usr/bin/env python3
"""The record order a sort of a table must give, from python3's sorted()
over the records as tools/tablecheck.py reads them (no engine code).

    sort_expect.py [--keys ...] [--ci] [--distinct] TABLE.DAT FIELDS

FIELDS: comma-separated 1-based field positions, each with a trailing "d"
for descending. Prints the record IDs of the live records in sorted order:
key (null flag, value) per field, then the record ID; with --distinct only
the first record of each run of equal values. Strings compare as their
bytes (upper-cased with --ci); a descending field's value bytes are
inverted, its null flag is not.
"""
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "tools"))
import tablecheck  # noqa: E402


def main(argv):
    keys, ci, distinct, args = None, False, False, []
    i = 1
    while i < len(argv):
        if argv[i] == "--keys":
            keys = tablecheck.parse_keys(argv[i + 1])
            i += 2
        elif argv[i] == "--ci":
            ci = True
            i += 1
        elif argv[i] == "--distinct":
            distinct = True
            i += 1
        else:
            args.append(argv[i])
            i += 1
    path, order = args
    out = []
    tablecheck.check_table(path, keys, True, out)
    sizes, records, current = {}, [], None
    for line in out:
        kind, *rest = line.split(" ")
        if kind == "F":
            sizes[int(rest[0])] = int(rest[2])
        elif kind == "R":
            current = {"deleted": int(rest[1]), "id": int(rest[2]), "values": {}}
            records.append(current)
        elif kind == "V":
            current["values"][int(rest[0])] = (int(rest[1]), rest[2] if len(rest) > 2 else "")
    fields = [(int(s.rstrip("d")), s.endswith("d")) for s in order.split(",") if s]
    with open(path, "rb") as f:
        data = f.read()
    (count,) = struct.unpack_from("<H", data, 23)
    definitions = data[127:127 + 768 * count]
    if data[86]:
        definitions = tablecheck.decipher(definitions, *keys[1])
    strings = {i + 1 for i in range(count) if definitions[i * 768 + 84] == 1}

    def value_key(position, descending, flag, text):
        size = sizes[position]
        if position not in strings:
            raw = (int(text) + (1 << 63)).to_bytes(8, "big")  # order of signed values
        else:
            raw = bytes.fromhex(text)
            if ci:
                raw = raw.upper()
            raw = raw[:size].ljust(size, b"\0")
        if flag == 0:
            raw = b""
        if descending and flag:
            raw = bytes(255 - b for b in raw)
        return (flag, raw)

    def key(record):
        return tuple(value_key(p, d, *record["values"][p]) for p, d in fields)

    live = [r for r in records if r["deleted"] == 0]
    ordered = sorted(live, key=lambda r: (key(r), r["id"]))
    result, previous = [], None
    for r in ordered:
        k = key(r)
        if not distinct or previous is None or k != previous:
            result.append(r["id"])
        previous = k
    print(" ".join(str(x) for x in result))


if __name__ == "__main__":
    main(sys.argv)
