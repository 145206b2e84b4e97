#!/usr/bin/env python3
"""Independent reading of register encodings (text_encoding.h), for the
encoding tests: python3 text_encoding_reference.py <in-file> <out-file>

Each input line is a file's bytes in hex. Each output line says how the
file is read: "A" (ASCII), "C" (Windows-1252 as it stands: not UTF-8),
"X" (UTF-8 with a character Windows-1252 lacks) or "U" followed by the
hex of its Windows-1252 text (a leading byte-order mark dropped)."""
import sys

out = []
with open(sys.argv[1]) as f:
    for line in f:
        data = bytes.fromhex(line.strip())
        if all(b < 0x80 for b in data):
            out.append("A")
            continue
        try:
            text = data.decode("utf-8-sig")
        except UnicodeDecodeError:
            out.append("C")
            continue
        try:
            out.append("U" + text.encode("cp1252").hex())
        except UnicodeEncodeError:
            out.append("X")
with open(sys.argv[2], "w") as f:
    f.write("\n".join(out) + "\n")
