#!/usr/bin/env python3
"""Independent reading of the page sort recipe (sort_commands.h), for the
sort command tests: python3 sort_reference.py <husband|wife|all> <caption> <lines-file>

Reads the page lines (Windows-1252, LF-separated) and prints the sorted
entries, one per line. Lines must hold no double quote (the field routines
treat quotes specially; this reference does not)."""
import re
import sys

PARTICLES = [" 't ", " la ", " le ", " van ", " ver ", " der ", " de ", " ten ", " ter ", " du ",
             " dela ", " vander ", " vande ", " vanden "]


CONTROLS_AND_SPACE = "".join(chr(c) for c in range(33))
ASCII_UPPER = str.maketrans("abcdefghijklmnopqrstuvwxyz", "ABCDEFGHIJKLMNOPQRSTUVWXYZ")


def trim(s):
    return s.strip(CONTROLS_AND_SPACE)


def fold(s):
    """Upper-cases a-z only; every other character stays as it is."""
    return s.translate(ASCII_UPPER)


FOLDED_PARTICLES = [fold(p) for p in PARTICLES]


def glue(line):
    t = line.replace("[", "").replace("]", "")
    ft = fold(t)  # folding is per character, so t and ft lose the same positions
    for fp in FOLDED_PARTICLES:
        hits, pos = [], 0
        while True:
            at = ft.find(fp, pos)
            if at < 0:
                break
            hits.append(at)
            pos = at + len(fp)
        for at in reversed(hits):
            cut = at + len(fp) - 1
            t = t[:cut] + t[cut + 1:]
            ft = ft[:cut] + ft[cut + 1:]
    return t


def split_first(s, delims):
    for i, c in enumerate(s):
        if c in delims:
            return s[:i], s[i + 1:]
    return s, None


def words(s, n):
    found = list(re.finditer(r"[^ ]+", s))
    taken = [m.group(0) for m in found[:n]] + [""] * max(0, n - len(found))
    rest = trim(s[found[n - 1].end():]) if len(found) >= n else ""
    return taken, rest


def join(*parts):
    return " ".join(p for p in parts if p)


def letters(w):
    return "".join(c for c in w if ("a" <= c <= "z") or ("A" <= c <= "Z"))


def place_third(w, rest):
    third = letters(w[2])
    if third and third not in ("Jr", "jr"):
        return third, join(w[0], w[1], rest)
    return w[1], join(w[0], w[2], rest)


def names(line, baptisms):
    """The recipe's slots read by the record-line layout: the date is
    characters 1-12, the names stand in the rest."""
    t = glue(line)
    date, rest = trim(t[:12]), t[12:]
    first, tail = split_first(rest, ",;")
    semi = rest.find(";")
    after = rest[semi + 1:] if semi >= 0 else ""
    if baptisms:
        # Mother after the last ',' at or before the first ';' (the last ','
        # of all without a ';') when two or more characters stand between;
        # the father before that ','.
        p1 = semi + 1  # 1-based, 0 when none
        c = rest.rfind(",", 0, p1 if p1 else len(rest)) + 1
        father = rest[:c - 1] if c else (rest[:p1 - 1] if p1 else "")
        mother = rest[c:p1 - 1] if c and p1 - c >= 3 else ""
        return date, first, tail or "", father, mother, after
    wife, _ = split_first(after, ",")
    husband_part = rest[:semi] if semi >= 0 else rest
    return date, first, tail or "", husband_part, wife, after


def wife_entry(line, baptisms):
    d, _, _, h, s, t = names(line, baptisms)
    w, rest = words(s, 3)
    surname, given = place_third(w, rest)
    return d + "; " + surname + ", " + given + ", " + h + "; " + t


def husband_entry(line, baptisms):
    d, s, t, _, _, _ = names(line, baptisms)
    w, rest = words(s, 4)
    if w[3] and w[3] not in ("Jr", "jr"):
        surname, given = w[3], join(w[0], w[1], w[2], rest)
    else:
        surname, given = place_third(w, join(w[3], rest))
    return d + "; " + surname + ", " + given + ", " + t


def after_semi(s):
    i = s.find(";")
    return "" if i < 0 or i + 2 > len(s) else s[i + 2:]


def husband_key(e):
    f = [m.group(0) for m in re.finditer(r"[^,]+", after_semi(e))] + ["", "", ""]
    return f[0] + f[1][:3] + (f[2][2] if len(f[2]) >= 3 else "")


def wife_key(e):
    field, _ = split_first(after_semi(after_semi(e)), ",;")
    a = [m.group(0) for m in re.finditer(r"[^ ]+", field)] + ["", "", ""]
    return (a[2] if a[2] else a[1]) + a[0][:3]


def main():
    side, caption, path = sys.argv[1], sys.argv[2], sys.argv[3]
    with open(path, encoding="latin-1", newline="") as f:
        lines = f.read().split("\n")
    baptisms = "_bap" in caption.lower()
    entries = []
    for line in lines:
        t = trim(line)
        if not t or not ("0" <= t[0] <= "9" or t[0] == "?"):
            continue
        if side != "husband":
            entries.append(wife_entry(t, baptisms))
        if side != "wife":
            entries.append(husband_entry(t, baptisms))
    by_wife = side == "wife" and "_marr" in caption.lower()
    entries.sort(key=lambda e: fold(wife_key(e) if by_wife else husband_key(e)))
    out = sys.stdout.buffer
    for e in entries:
        out.write(e.encode("latin-1") + b"\n")


main()
