#!/usr/bin/env python3
"""Independent reference for an exact one-term search with Father, Mother
and Witness ticked, no fuzzy box, over the baptism files of a folder.

Prints, one per line: 'HIT <tagged hit line>' for each hit in file order,
'LEGEND <tagged title>' for each file with hits, and a last line
'COUNTS <hits> <records> <lines>'.

Rules: data files sorted by name (case-blind), numbered from 1; only files
ending in _bap.txt are read. A line is trimmed of characters <= blank at
both ends; a record line begins with a digit or '?'. The term must occur,
case-blind, in the record line from its 14th character on.
"""
import os
import sys

KINDS = ("_pass.txt", "_memb.txt", "_will.txt", "_marr.txt", "_bap.txt")


def trim(line):
    start, end = 0, len(line)
    while start < end and line[start] <= " ":
        start += 1
    while end > start and line[end - 1] <= " ":
        end -= 1
    return line[start:end]


def main():
    folder, term = sys.argv[1], sys.argv[2].lower()
    names = sorted((n for n in os.listdir(folder) if n.endswith(".txt") and any(k in n for k in KINDS)),
                   key=str.lower)
    hits = records = lines_read = 0
    for number, name in enumerate(names, start=1):
        if not name.endswith("_bap.txt"):
            continue
        with open(os.path.join(folder, name), encoding="cp1252", newline="") as f:
            lines = f.read().split("\r\n")
        if lines and lines[-1] == "":
            lines.pop()
        tag = " [%d] " % number
        had_hit = False
        for raw in lines[1:]:
            lines_read += 1
            line = trim(raw)
            if not line or not (line[0].isdigit() or line[0] == "?"):
                continue
            records += 1
            if term in line[13:].lower():
                hits += 1
                had_hit = True
                print("HIT " + line + tag)
        if had_hit:
            print("LEGEND" + tag + trim(lines[0]))
    print("COUNTS %d %d %d" % (hits, records, lines_read))


main()
