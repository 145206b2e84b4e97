#!/usr/bin/env python3
"""Tests of tools/gedcheck.py: a sound file passes, and each rule rejects a
copy of it broken in one place only."""

import os
import subprocess
import sys
import tempfile
import unittest

CHECKER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "gedcheck.py")

GOOD = [
    "0 HEAD", "1 SOUR QUORVANE", "2 VERS 1.0", "2 NAME Quorvane", "1 SUBM @U1@", "1 GEDC", "2 VERS 5.5.1",
    "2 FORM LINEAGE-LINKED", "1 CHAR UTF-8", "0 @U1@ SUBM", "1 NAME jan@@home",
    "0 @I1@ INDI", "1 NAME Jan /Smit/", "1 SEX M", "1 FAMS @F1@",
    "0 @I2@ INDI", "1 NAME Maria /Jansen/", "1 SEX F", "1 FAMS @F1@",
    "0 @I3@ INDI", "1 NAME Žofie /Dvořák/", "2 NOTE Name as written: Žofie/Sofie Dvořák", "1 SEX U", "1 FAMC @F1@",
    "0 @F1@ FAM", "1 HUSB @I1@", "1 WIFE @I2@", "1 CHIL @I3@", "0 TRLR",
]


def encode(lines):
    return "".join(l + "\r\n" for l in lines).encode("utf-8")


def replace(old, new):
    def change(lines):
        i = lines.index(old)
        return lines[:i] + ([] if new is None else [new] if isinstance(new, str) else new) + lines[i + 1:]
    return change


def raw(fn):
    """A change on the bytes instead of the lines."""
    fn.raw = True
    return fn


# name, change, text the error holds
BAD = [
    ("bom", raw(lambda b: b"\xef\xbb\xbf" + b), "byte order mark"),
    ("latin1", raw(lambda b: b.replace("Ž".encode(), b"\x8e")), "not UTF-8"),
    ("overlong utf8", raw(lambda b: b.replace(b"Jan /", b"J\xc0\xafn /")), "not UTF-8"),
    ("lf only", raw(lambda b: b.replace(b"\r\n", b"\n")), "last line does not end"),
    ("one lone lf", raw(lambda b: b.replace(b"1 SEX M\r\n", b"1 SEX M\n", 1)), "lone CR or LF"),
    ("no final crlf", raw(lambda b: b[:-2]), "last line does not end"),
    ("long line", replace("1 NAME Jan /Smit/", "1 NAME Jan /" + "S" * 250 + "/"), "line of"),
    ("first not level 0", lambda l: ["1 NOTE x"] + l, "first line is not at level 0"),
    ("level jump", replace("1 NAME Jan /Smit/", "2 NAME Jan /Smit/"), "level 2 after level 0"),
    ("leading zero", replace("1 SEX M", "01 SEX M"), "not a GEDCOM line"),
    ("xref below 0", replace("1 SEX M", "1 @X1@ SEX M"), "cross-reference below level 0"),
    ("duplicate xref", replace("0 @I3@ INDI", "0 @I2@ INDI"), "used twice"),
    ("long xref", lambda l: [x.replace("@I3@", "@I" + "3" * 21 + "@") for x in l], "longer than 22"),
    ("single at", replace("1 NAME jan@@home", "1 NAME jan@home"), "single '@'"),
    ("head not first", lambda l: l[9:11] + l[:9] + l[11:], "HEAD is not the first"),
    ("no sour", replace("1 SOUR QUORVANE", None), "without SOUR"),
    ("no subm", replace("1 SUBM @U1@", None), "without SUBM"),
    ("subm dangles", replace("1 SUBM @U1@", "1 SUBM @U9@"), "no submitter record"),
    ("no gedc", lambda l: [x for x in l if x not in ("1 GEDC", "2 VERS 5.5.1", "2 FORM LINEAGE-LINKED")], "without GEDC"),
    ("gedc 5.5", replace("2 VERS 5.5.1", "2 VERS 5.5"), "not 5.5.1"),
    ("gedc form", replace("2 FORM LINEAGE-LINKED", "2 FORM EVENT"), "not LINEAGE-LINKED"),
    ("char ansel", replace("1 CHAR UTF-8", "1 CHAR ANSEL"), "CHAR is not UTF-8"),
    ("no trlr", replace("0 TRLR", None), "TRLR is not the last"),
    ("trlr early", lambda l: l + ["0 @I9@ INDI"], "TRLR is not the last"),
    ("husb dangles", replace("1 HUSB @I1@", "1 HUSB @I0@"), "does not point to a INDI"),
    ("chil to fam", replace("1 CHIL @I3@", "1 CHIL @F1@"), "does not point to a INDI"),
    ("famc to indi", replace("1 FAMC @F1@", "1 FAMC @I1@"), "does not point to a FAM"),
    ("one-way chil", replace("1 FAMC @F1@", None), "has no FAMC back"),
    ("one-way famc", replace("1 CHIL @I3@", None), "has no CHIL back"),
    ("one-way fams", replace("1 WIFE @I2@", None), "has no HUSB/WIFE back"),
    ("one-way wife", lambda l: [x for x in l if x != "1 FAMS @F1@"], "has no FAMS back"),
    ("two husb", lambda l: replace("1 WIFE @I2@", "1 HUSB @I2@")(l), "2 HUSB lines"),
    ("own parent", lambda l: replace("1 CHIL @I3@", ["1 CHIL @I3@", "1 CHIL @I1@"])(
        replace("1 FAMS @F1@", ["1 FAMS @F1@", "1 FAMC @F1@"])(l)), "as spouse and as child"),
    ("sex x", replace("1 SEX M", "1 SEX X"), "SEX 'X'"),
    ("sex empty", replace("1 SEX M", "1 SEX"), "SEX None"),
    ("slash in given name", replace("1 NAME Jan /Smit/", "1 NAME Jan/Johannes /Smit/"), "holds 3 '/'"),
    ("surname not closed", replace("1 NAME Jan /Smit/", "1 NAME Jan /Smit"), "holds 1 '/'"),
    ("two surnames", replace("1 NAME Jan /Smit/", "1 NAME /Smit/ /Smid/"), "holds 4 '/'"),
]


def run(data, *opts):
    with tempfile.NamedTemporaryFile(suffix=".ged", delete=False) as f:
        f.write(data)
    try:
        p = subprocess.run([sys.executable, CHECKER, *opts, f.name], capture_output=True, text=True)
        return p.returncode, p.stdout
    finally:
        os.unlink(f.name)


class GedcheckTest(unittest.TestCase):
    def test_good_file_passes_with_counts(self):
        self.assertEqual(run(encode(GOOD), "--counts"), (0, "INDI 3\nFAM 1\n"))

    def test_each_rule_rejects_its_bad_file(self):
        for name, change, expect in BAD:
            with self.subTest(name):
                data = change(encode(GOOD)) if getattr(change, "raw", False) else encode(change(list(GOOD)))
                code, out = run(data)
                self.assertEqual(code, 1, out)
                self.assertIn(expect, out)

    def test_unreadable_and_usage(self):
        self.assertEqual(subprocess.run([sys.executable, CHECKER, "/nonexistent.ged"], capture_output=True).returncode, 2)
        self.assertEqual(subprocess.run([sys.executable, CHECKER], capture_output=True).returncode, 2)


if __name__ == "__main__":
    unittest.main()
