#!/usr/bin/env python3
"""Independent reading of register encodings (text_encoding.h), for the
encoding tests: python3 text_encoding_reference.py <in-file> <out-file>

Each input line is a file's bytes in hex. Each output line says how the
file is read: "A" (ASCII), "C" (Windows-1252 as it stands: not UTF-8),
"X" (UTF-8 with a character Windows-1252 lacks), "U" followed by the hex
of its Windows-1252 text (a leading byte-order mark dropped), or "M" and
the hex of its text when its lines are of both forms (some UTF-8 with a
character beyond ASCII, some not UTF-8), each line read in its own form."""
import re
import sys


def verdict(data):
    if all(b < 0x80 for b in data):
        return "A"
    # Lines with their ends (CR LF, CR or LF).
    parts = re.split(rb"(\r\n|\r|\n)", data)
    lines, ends = parts[0::2], parts[1::2] + [b""]
    kinds = []
    for i, line in enumerate(lines):
        if all(b < 0x80 for b in line):
            kinds.append("A")
            continue
        try:
            line.decode("utf-8-sig" if i == 0 else "utf-8")
            kinds.append("U")
        except UnicodeDecodeError:
            kinds.append("C")
    if "C" in kinds and "U" not in kinds:
        return "C"
    try:
        if "C" not in kinds:
            return "U" + data.decode("utf-8-sig").encode("cp1252").hex()
        text = b""
        for i, (line, end, kind) in enumerate(zip(lines, ends, kinds)):
            if kind == "U":
                line = line.decode("utf-8-sig" if i == 0 else "utf-8").encode("cp1252")
            text += line + end
        return "M" + text.hex()
    except UnicodeEncodeError:
        return "X"


out = []
with open(sys.argv[1]) as f:
    for line in f:
        out.append(verdict(bytes.fromhex(line.strip())))
with open(sys.argv[2], "w") as f:
    f.write("\n".join(out) + "\n")
