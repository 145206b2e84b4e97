#!/usr/bin/env python3
"""Independent check of a folder of register files.

Every "*_bap.txt", "*_marr.txt", "*_memb.txt", "*_will.txt" and "*_pass.txt"
file must decode as Windows-1252 (strict), end every line with CR LF, start
with a title, and every record line (trimmed of codes up to 32; not empty, not
starting with '-', starting with a digit or '?') must start with its date:
a 4-character year, then a 2-character day and a 3-letter month in either
order, filling characters 1-12; baptism rests must give a father and a child,
other rests a husband and a wife.

Prints "name records lines" per file, sorted by name; exits 1 with
"name:line: reason" on the first fault.
"""
import os
import re
import sys

SUFFIXES = ("_bap.txt", "_marr.txt", "_memb.txt", "_will.txt", "_pass.txt")
MONTH = "(?:Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec)"
DATE = re.compile(r"[0-9?]{4} (?:[0-9?]{2} %s|%s [0-9?]{2}) [^ ]" % (MONTH, MONTH))
CONTROLS = "".join(chr(c) for c in range(33))
LETTER = re.compile(r"[A-Za-z\u00c0-\u00ff]")


class Fault(Exception):
    pass


def baptism_fields(rest):
    p1 = rest.find(";") + 1  # 1-based positions, 0 when absent
    p2 = rest.find(";", p1) + 1 if p1 else 0
    c = rest.rfind(",", 0, p1 - 1 if p1 else len(rest)) + 1
    father = rest[:c - 1] if c else rest[:max(p1 - 1, 0)]
    children = rest[p1 + 1:p1 + 1 + (p2 - p1 - 1)] if p2 else ""
    return father.replace("[", "").replace("]", ""), children


def check_file(path):
    name = os.path.basename(path)
    data = open(path, "rb").read()
    if not data.endswith(b"\r\n"):
        raise Fault("%s: last line has no CR LF" % name)
    try:
        text = data.decode("cp1252")
    except UnicodeDecodeError as e:
        raise Fault("%s: not Windows-1252: %s" % (name, e))
    lines = text.split("\r\n")[:-1]
    records = 0
    for number, raw in enumerate(lines, 1):
        where = "%s:%d" % (name, number)
        if "\r" in raw or "\n" in raw:
            raise Fault("%s: bare CR or LF" % where)
        line = raw.strip(CONTROLS)
        if number == 1:
            if not line:
                raise Fault("%s: empty title" % where)
            if line[0] in "0123456789?":
                raise Fault("%s: title reads as a record" % where)
            continue
        if not line or line[0] == "-" or line[0] not in "0123456789?":
            continue
        records += 1
        if not DATE.match(line):
            raise Fault("%s: record without a date prefix: %r" % (where, line))
        rest = line[12:]
        if name.endswith("_bap.txt"):
            father, children = baptism_fields(rest)
            if not LETTER.search(father) or not LETTER.search(children):
                raise Fault("%s: no father or child: %r" % (where, line))
        else:
            plain = rest.replace("[", "").replace("]", "")
            if ";" not in plain:
                raise Fault("%s: no ';' between the two parties: %r" % (where, line))
            husband, wife = plain.split(";", 1)
            if not LETTER.search(husband.split(",")[0]) or not LETTER.search(wife.split(",")[0]):
                raise Fault("%s: no husband or wife: %r" % (where, line))
    return records, len(lines)


def main():
    if len(sys.argv) != 2:
        print("usage: check_registers.py FOLDER", file=sys.stderr)
        return 2
    folder = sys.argv[1]
    names = sorted(n for n in os.listdir(folder) if n.endswith(SUFFIXES))
    try:
        for n in names:
            records, lines = check_file(os.path.join(folder, n))
            print("%s %d %d" % (n, records, lines))
    except Fault as e:
        print(e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
