#!/usr/bin/env python3
"""Random family forests and their modified Henry lists, written here from
the rules of the list and sharing nothing with the program.

    henry_reference.py OUTDIR FIRST_SEED COUNT

For each seed writes OUTDIR/forest_<seed>.txt and OUTDIR/page_<seed>.txt,
both Windows-1252. The forest, one record a line, fields split by TAB:
    S  subject
    P  pid fname lname sex bapdate famc fams1..fams5
    F  fid husband wife child1..child15
The page: the list's lines, each ended by LF.

The list (breadth first): " ", "Modified Henry list for <given> <surname>",
" ", then per walked person " ", the number dotted after every three
characters, two blanks and the person's text, and per child four blanks,
the child's dotted number, two blanks, "(j)  " when the parent has several
spouse families, and the child's text (no surname). A child's digit counts
the parent's children over all spouse families: 1-9, then A-Z. A text is
the given name [+ blank + SURNAME in capitals] [+ " bp. " + date], then
" m. " + partner text (with surname) for each spouse family with a partner:
the wife of a man, otherwise the husband. A child is walked when one of its
spouse families has a first child; one already on the line from the subject
is not walked again and a loop line follows it.
"""

import os
import random
import sys
from collections import deque

DIGITS = "123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"
GIVEN = ["Jan", "Pieter", "Klaas", "Maria", "Anna", "Geesje", "Éva", "Joël", "Zoë", "Šárka", "Œdipe", "Ørjan",
         "Jan Willem", "Ÿvonne", "ängel"]
SURNAMES = ["Smit", "Jansen", "de Wit", "van der Berg", "Müller", "Öztürk", "Žižek", "šimek", "Dœuvre", "Brontë",
            "Ißler", "ÿsselmonde"]


# ---- the list ----

def cp_upper(text):
    out = []
    for ch in text:
        up = ch.upper()
        try:
            ok = len(up) == 1 and up.encode("cp1252")
        except UnicodeEncodeError:
            ok = False
        out.append(up if ok else ch)
    return "".join(out)


def filled(slots):
    out = []
    for s in slots:
        if s == 0:
            break
        out.append(s)
    return out


def dotted(number):
    return ".".join(number[i:i + 3] for i in range(0, len(number), 3))


def henry_page(persons, families, subject):
    def husband(fam):
        h = fam["husband"]
        if h == 999:
            p = persons.get(999)
            if p is None or fam["fid"] not in filled(p["fams"]):
                return 0
        return h

    def text(p, surname):
        t = p["fname"]
        if surname:
            t += " " + cp_upper(p["lname"])
        if p["bap"]:
            t += " bp. " + p["bap"]
        for fid in filled(p["fams"]):
            fam = families.get(fid)
            if fam is None:
                continue
            partner = fam["wife"] if p["sex"].startswith("M") else husband(fam)
            if partner and partner in persons:
                q = persons[partner]
                t += " m. " + q["fname"] + " " + cp_upper(q["lname"])
                if q["bap"]:
                    t += " bp. " + q["bap"]
        return t

    s = persons[subject]
    page = [" ", "Modified Henry list for %s %s" % (s["fname"], s["lname"]), " "]
    queue = deque([(subject, "", ((subject, ""),))])
    while queue:
        pid, number, line = queue.popleft()
        p = persons[pid]
        page.append(" ")
        page.append(dotted(number) + "  " + text(p, True))
        spouse_families = [fid for fid in filled(p["fams"]) if fid in families]
        count = 0
        for j, fid in enumerate(spouse_families):
            fam = families[fid]
            for cid in filled(fam["children"]):
                if cid not in persons:
                    continue
                count += 1
                if count > len(DIGITS):
                    page.append("    The list ends here: %s %s has more than 35 children." % (p["fname"], cp_upper(p["lname"])))
                    return page
                child_number = number + DIGITS[count - 1]
                tag = "(%d)  " % (j + 1) if len(spouse_families) > 1 else ""
                c = persons[cid]
                page.append("    " + dotted(child_number) + "  " + tag + text(c, False))
                above = [n for q, n in line if q == cid]
                if above:
                    page.append("      loop: %s %s stands above as %s; not listed again" % (
                        c["fname"], cp_upper(c["lname"]), dotted(above[0]) if above[0] else "the subject"))
                    continue
                if any(fid2 in families and families[fid2]["children"][0] != 0 for fid2 in filled(c["fams"])):
                    queue.append((cid, child_number, line + ((cid, child_number),)))
    return page


# ---- random forests ----

def forest(seed):
    rng = random.Random(seed)
    persons, families = {}, {}
    limit = rng.choice([30, 60, 120, 250])

    def person(sex, gen, famc=0):
        pid = len(persons) + 1
        bap = "" if rng.random() < 0.3 else "%d %s %d" % (rng.randint(1, 28), rng.choice(["Jan", "Mar", "Jul", "Oct"]),
                                                          1600 + 25 * gen + rng.randint(0, 20))
        persons[pid] = {"pid": pid, "fname": rng.choice(GIVEN), "lname": rng.choice(SURNAMES), "sex": sex, "bap": bap,
                        "famc": famc, "fams": [0] * 5, "gen": gen}
        return pid

    def add_fams(pid, fid):
        slots = persons[pid]["fams"]
        slots[slots.index(0)] = fid

    def children_of(pid):
        return sum(len(filled(families[f]["children"])) for f in filled(persons[pid]["fams"]))

    subject = person(rng.choice("MMFFU"), 0)
    generation = [subject]
    for gen in range(8):
        following = []
        for pid in generation:
            p = persons[pid]
            r = rng.random()
            marriages = 0 if r < 0.25 else 1 if r < 0.8 else rng.randint(2, 5)
            for _ in range(marriages):
                if len(persons) >= limit or 0 not in p["fams"]:
                    break
                fid = len(families) + 1
                fam = {"fid": fid, "husband": 0, "wife": 0, "children": [0] * 15}
                families[fid] = fam
                # The person's place by sex: men are husbands, the rest wives.
                own, other = ("husband", "wife") if p["sex"] == "M" else ("wife", "husband")
                fam[own] = pid
                add_fams(pid, fid)
                r = rng.random()
                if r < 0.15:
                    # A cousin or a spouse married before, of the same generation.
                    want = ("F", "U") if other == "wife" else ("M",)
                    pool = [q for q in persons.values()
                            if q["gen"] == gen and q["pid"] != pid and q["sex"] in want and 0 in q["fams"]]
                    if pool:
                        q = rng.choice(pool)
                        fam[other] = q["pid"]
                        add_fams(q["pid"], fid)
                elif r < 0.9:
                    spouse = person("M" if other == "husband" else rng.choice("FFFU"), gen)
                    fam[other] = spouse
                    add_fams(spouse, fid)
                # Up to 15 children a family and 35 a person (each parent).
                room = min(15, 35 - children_of(pid), 35 - (children_of(fam[other]) if fam[other] else 0))
                n = 0 if rng.random() < 0.2 else rng.randint(0, max(0, min(room, rng.choice([2, 4, 8, 15]))))
                for s in range(n):
                    if len(persons) >= limit:
                        break
                    c = person(rng.choice("MMFFU"), gen + 1, fid)
                    fam["children"][s] = c
                    following.append(c)
        generation = following
    return subject, persons, families


def write(outdir, seed):
    subject, persons, families = forest(seed)
    rows = ["S\t%d" % subject]
    for p in persons.values():
        rows.append("\t".join(["P", str(p["pid"]), p["fname"], p["lname"], p["sex"], p["bap"], str(p["famc"])] +
                              [str(f) for f in p["fams"]]))
    for f in families.values():
        rows.append("\t".join(["F", str(f["fid"]), str(f["husband"]), str(f["wife"])] + [str(c) for c in f["children"]]))
    with open(os.path.join(outdir, "forest_%d.txt" % seed), "wb") as out:
        out.write(("\n".join(rows) + "\n").encode("cp1252"))
    with open(os.path.join(outdir, "page_%d.txt" % seed), "wb") as out:
        out.write("".join(l + "\n" for l in henry_page(persons, families, subject)).encode("cp1252"))


def main(argv):
    if len(argv) != 4:
        print("usage: henry_reference.py OUTDIR FIRST_SEED COUNT", file=sys.stderr)
        return 2
    first, count = int(argv[2]), int(argv[3])
    for seed in range(first, first + count):
        write(argv[1], seed)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
