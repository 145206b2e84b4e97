#!/usr/bin/env python3
"""Imports a GEDCOM file into a new, empty Gramps family tree and checks
what Gramps made of it, python3 standard library only.

    gramps_check.py FILE.ged EXPECT

EXPECT (UTF-8) lists what the file should give:
    P <number of people>
    F <number of families>
    <person number> TAB <given names> TAB <surname>     one line per person

Gramps runs headless in a scratch GRAMPSHOME:
    gramps -y -q -C tree -i FILE.ged -e out.gramps
Its import report must read "No errors detected"; out.gramps (gzip'd XML)
must hold exactly the people and families expected, each person, found by
its number (Gramps writes @I12@ as "I0012"), with the given names and the
surname expected. Prints "error: ..." lines; exits 0 (all as expected),
1 (a difference) or 2 (Gramps missing, bad options).
"""

import gzip
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

NS = "{http://gramps-project.org/xml/1.7.1/}"
CLEAN = "GEDCOM import report: No errors detected"


def read_expect(path):
    people, counts = {}, {}
    with open(path, encoding="utf-8") as f:
        for line in f.read().split("\n"):
            if not line:
                continue
            if line[:2] in ("P ", "F "):
                counts[line[0]] = int(line[2:])
            else:
                number, first, surname = line.split("\t")
                people[int(number)] = (first, surname)
    return counts, people


def run_gramps(ged, out):
    home = tempfile.mkdtemp(prefix="gramps_home_")
    try:
        env = dict(os.environ, GRAMPSHOME=home, LANG="C.UTF-8")
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
        p = subprocess.run(["gramps", "-y", "-q", "-C", "tree", "-i", ged, "-e", out],
                           capture_output=True, text=True, env=env, timeout=300)
        return p.returncode, p.stdout + p.stderr
    finally:
        shutil.rmtree(home, ignore_errors=True)


def read_tree(path):
    with gzip.open(path) as f:
        root = ET.parse(f).getroot()
    people = {}
    for person in root.iter(NS + "person"):
        m = re.fullmatch(r"I0*(\d+)", person.get("id", ""))
        name = person.find(NS + "name")
        first = name.findtext(NS + "first", "") if name is not None else ""
        surname = name.findtext(NS + "surname", "") if name is not None else ""
        people[int(m.group(1)) if m else person.get("id")] = (first, surname)
    families = len(list(root.iter(NS + "family")))
    return people, families


def main(argv):
    if len(argv) != 3:
        print("usage: gramps_check.py FILE.ged EXPECT", file=sys.stderr)
        return 2
    if shutil.which("gramps") is None:
        print("error: gramps is not installed", file=sys.stderr)
        return 2
    counts, expected = read_expect(argv[2])
    errors = []
    with tempfile.TemporaryDirectory() as scratch:
        out = os.path.join(scratch, "out.gramps")
        code, log = run_gramps(os.path.abspath(argv[1]), out)
        report = [l for l in log.splitlines() if "GEDCOM import report" in l]
        if code != 0:
            errors.append("gramps exited with %d" % code)
        if not report or not report[0].strip().startswith(CLEAN):
            errors.append("import report: %s" % (report[0].strip() if report else "none"))
        if not os.path.exists(out):
            errors.append("no out.gramps")
            people, families = {}, 0
        else:
            people, families = read_tree(out)
    if len(people) != counts.get("P", len(expected)):
        errors.append("%d people, expected %d" % (len(people), counts.get("P", len(expected))))
    if families != counts.get("F", families):
        errors.append("%d families, expected %d" % (families, counts["F"]))
    for number, names in sorted(expected.items()):
        got = people.get(number)
        if got != names:
            errors.append("person %d: %r, expected %r" % (number, got, names))
    for e in errors[:20]:
        print("error: " + e)
    if errors and os.environ.get("GRAMPS_CHECK_LOG"):
        print(log)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
