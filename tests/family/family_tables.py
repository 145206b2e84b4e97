#!/usr/bin/env python3
"""Reads the family tables with the table checker's own reader, sharing no
code with the engine.

    family_tables.py schema TABLE.DAT   fields and index definitions
    family_tables.py rows TABLE.DAT...  the checker's findings, then one line
                                        per live record: its ID, then each
                                        stored value, ';' between them
With several tables each one's lines follow "== path".
Strings come out as their bytes, floats as whole numbers when they are.
"""

import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools"))
import tablecheck as tc  # noqa: E402


def schema(path, out):
    data = open(path, "rb").read()
    (count,) = struct.unpack_from("<H", data, 23)
    for i in range(count):
        f = tc.Field(i + 1, data[tc.HEADER + tc.DEFINITION * i:tc.HEADER + tc.DEFINITION * (i + 1)])
        out.write(b"field %s %d %d %d\n" % (f.name, f.data_type, f.sub_type, f.size))
    x = open(path[:-4] + ".IDX", "rb").read()
    slots = x[13]
    out.write(b"indexes %d no-primary %d\n" % (slots, x[3978]))
    d = tc.IndexDefinition(0, x[14:14 + 120])
    out.write(b"primary unique %d fields %s\n" % (d.unique, str(list(d.fields[:d.field_count])).encode()))


def rows(path, out):
    lines = []
    report = tc.check_table(path, None, True, lines)
    for line in report.lines:
        out.write(line.encode() + b"\n")
    types = {}
    data = open(path, "rb").read()
    (count,) = struct.unpack_from("<H", data, 23)
    for i in range(count):
        f = tc.Field(i + 1, data[tc.HEADER + tc.DEFINITION * i:tc.HEADER + tc.DEFINITION * (i + 1)])
        types[f.position] = f.data_type
    row = None
    for line in lines + ["R 0 1 0"]:
        kind, *rest = line.split(" ")
        if kind == "R":
            if row is not None:
                out.write(b";".join(row) + b"\n")
            row = [rest[2].encode()] if rest[1] == "0" else None
        elif kind == "V" and row is not None:
            position, value = int(rest[0]), rest[2] if len(rest) > 2 else ""
            if types[position] == 1:
                row.append(bytes.fromhex(value))
            elif types[position] == 7:
                v = float(value)
                row.append((str(int(v)) if v == int(v) else value).encode())
            else:
                row.append(value.encode())
        elif kind == "I":
            out.write(("keys %s %s\n" % (rest[0], rest[1])).encode())


if __name__ == "__main__":
    paths = sys.argv[2:]
    for path in paths:
        if len(paths) > 1:
            sys.stdout.buffer.write(b"== %s\n" % path.encode())
        {"schema": schema, "rows": rows}[sys.argv[1]](path, sys.stdout.buffer)
