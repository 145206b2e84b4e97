#!/usr/bin/env python3
"""Checks a lineage-linked GEDCOM 5.5.1 file, python3 standard library only.

    gedcheck.py [--counts] FILE.ged

Prints one "error: line N: ..." line per fault found and exits 0 (clean),
1 (errors) or 2 (unreadable file, bad options). --counts also prints
"INDI n" and "FAM n" on a clean file.

What it checks, from the GEDCOM 5.5.1 standard:
  - the bytes are strict UTF-8 without a byte order mark;
  - every line ends in CR LF (no lone CR or LF, the last line too);
  - a line, terminator included, is at most 255 bytes;
  - a line is: level, blank, optional @xref@ and blank, tag, optional blank
    and value; levels are 0-99 without leading zeros, the first line is at
    level 0 and a level rises by at most one from the line before;
  - cross-references are unique, at most 22 characters with their @s, and
    only records (level 0) carry one;
  - an '@' in a value is doubled, unless the value is a pointer or an escape;
  - HEAD is the first record, with SOUR, SUBM pointing to a SUBM record,
    GEDC with VERS 5.5.1 and FORM LINEAGE-LINKED, and CHAR UTF-8;
  - TRLR is the last record, and nothing follows it;
  - HUSB, WIFE, CHIL point to INDI records, FAMC and FAMS to FAM records,
    SUBM to a SUBM record (pointers on level-1 lines of INDI and FAM);
  - links agree both ways: a family's CHIL and the child's FAMC, a family's
    HUSB or WIFE and the spouse's FAMS; a family has at most one HUSB and one
    WIFE, and no one is both spouse and child of a family (their own parent);
  - SEX is M, F or U;
  - a person's NAME holds at most one surname between slashes: no '/' or
    exactly two (a '/' inside a name part would make it ambiguous).
"""

import re
import sys

LINE_RE = re.compile(rb"^(0|[1-9][0-9]?) (?:(@[^@ ]+@) )?([A-Za-z0-9_]+)(?: (.*))?$", re.S)
POINTER_RE = re.compile(r"^@[A-Za-z0-9_][^@]*@$")
MAX_LINE = 255
MAX_XREF = 22
POINTER_KINDS = {"HUSB": "INDI", "WIFE": "INDI", "CHIL": "INDI", "FAMC": "FAM", "FAMS": "FAM", "SUBM": "SUBM"}


class Line:
    __slots__ = ("number", "level", "xref", "tag", "value")

    def __init__(self, number, level, xref, tag, value):
        self.number, self.level, self.xref, self.tag, self.value = number, level, xref, tag, value


class Checker:
    def __init__(self):
        self.errors = []

    def error(self, number, text):
        self.errors.append("error: line %d: %s" % (number, text) if number else "error: %s" % text)

    # ---- bytes and lines ----

    def split(self, data):
        if data.startswith(b"\xef\xbb\xbf"):
            self.error(1, "byte order mark")
            data = data[3:]
        try:
            data.decode("utf-8", "strict")
        except UnicodeDecodeError as e:
            self.error(data.count(b"\n", 0, e.start) + 1, "not UTF-8 at byte %d" % e.start)
        raw = data.split(b"\r\n")
        if raw and raw[-1] == b"":
            raw.pop()
        elif data:
            self.error(len(raw), "the last line does not end in CR LF")
        lines = []
        for i, b in enumerate(raw, 1):
            if b"\r" in b or b"\n" in b:
                self.error(i, "lone CR or LF")
                continue
            if len(b) + 2 > MAX_LINE:
                self.error(i, "line of %d bytes" % (len(b) + 2))
            m = LINE_RE.match(b)
            if not m:
                self.error(i, "not a GEDCOM line: %r" % b[:40])
                continue
            text = lambda x: None if x is None else x.decode("utf-8", "replace")
            lines.append(Line(i, int(m.group(1)), text(m.group(2)), m.group(3).decode("ascii"), text(m.group(4))))
        return lines

    # ---- structure ----

    def records(self, lines):
        """Groups lines into records: (head line, [sub-lines])."""
        records, previous = [], None
        for ln in lines:
            if previous is None and ln.level != 0:
                self.error(ln.number, "the first line is not at level 0")
            if previous is not None and ln.level > previous.level + 1:
                self.error(ln.number, "level %d after level %d" % (ln.level, previous.level))
            if ln.xref is not None and ln.level != 0:
                self.error(ln.number, "cross-reference below level 0")
            self.check_value(ln)
            if ln.level == 0:
                records.append((ln, []))
            elif records:
                records[-1][1].append(ln)
            previous = ln
        return records

    def check_value(self, ln):
        v = ln.value
        if v is None or POINTER_RE.match(v):
            return
        i = 0
        while i < len(v):
            if v[i] != "@":
                i += 1
            elif v.startswith("@@", i):
                i += 2
            elif v.startswith("@#", i) and v.find("@", i + 2) > 0:
                i = v.find("@", i + 2) + 1
            else:
                self.error(ln.number, "single '@' in a value")
                return

    @staticmethod
    def children(sub, parent):
        """The lines directly under parent in a record's sub-lines."""
        out, inside = [], False
        for ln in sub:
            if ln is parent:
                inside = True
                continue
            if inside:
                if ln.level <= parent.level:
                    break
                if ln.level == parent.level + 1:
                    out.append(ln)
        return out

    def check_head(self, records, kinds):
        if not records or records[0][0].tag != "HEAD":
            self.error(records[0][0].number if records else 0, "HEAD is not the first record")
            return
        head, sub = records[0]
        top = {}
        for ln in sub:
            if ln.level == 1:
                top.setdefault(ln.tag, ln)
        if "SOUR" not in top or not (top["SOUR"].value or "").strip():
            self.error(head.number, "HEAD without SOUR")
        subm = top.get("SUBM")
        if subm is None:
            self.error(head.number, "HEAD without SUBM")
        elif kinds.get(subm.value) != "SUBM":
            self.error(subm.number, "SUBM %s is no submitter record" % subm.value)
        gedc = top.get("GEDC")
        if gedc is None:
            self.error(head.number, "HEAD without GEDC")
        else:
            under = {ln.tag: ln.value for ln in self.children(sub, gedc)}
            if under.get("VERS") != "5.5.1":
                self.error(gedc.number, "GEDC VERS is not 5.5.1")
            if under.get("FORM") != "LINEAGE-LINKED":
                self.error(gedc.number, "GEDC FORM is not LINEAGE-LINKED")
        char = top.get("CHAR")
        if char is None or char.value != "UTF-8":
            self.error(char.number if char else head.number, "CHAR is not UTF-8")

    def check(self, data):
        lines = self.split(data)
        records = self.records(lines)
        kinds = {}
        for rec, _ in records:
            if rec.xref is None:
                continue
            if len(rec.xref) > MAX_XREF:
                self.error(rec.number, "cross-reference %s longer than %d characters" % (rec.xref, MAX_XREF))
            if rec.xref in kinds:
                self.error(rec.number, "cross-reference %s used twice" % rec.xref)
            else:
                kinds[rec.xref] = rec.tag
        self.check_head(records, kinds)
        trailers = [rec for rec, _ in records if rec.tag == "TRLR"]
        if not records or records[-1][0].tag != "TRLR":
            self.error(records[-1][0].number if records else 0, "TRLR is not the last record")
        elif len(trailers) > 1:
            self.error(trailers[0].number, "TRLR before the end")
        self.check_links(records, kinds)
        return {"INDI": sum(1 for r, _ in records if r.tag == "INDI"), "FAM": sum(1 for r, _ in records if r.tag == "FAM")}

    def check_links(self, records, kinds):
        fam_links = set()   # (fam, role, indi) as the family states them
        indi_links = set()  # (fam, role, indi) as the person states them
        for rec, sub in records:
            if rec.tag not in ("INDI", "FAM"):
                continue
            counts = {}
            for ln in sub:
                if ln.level != 1:
                    continue
                if ln.tag == "SEX" and rec.tag == "INDI" and ln.value not in ("M", "F", "U"):
                    self.error(ln.number, "SEX %r" % ln.value)
                slashes = (ln.value or "").count("/")
                if ln.tag == "NAME" and rec.tag == "INDI" and slashes not in (0, 2):
                    self.error(ln.number, "NAME %r holds %d '/', not one surname between two" % (ln.value, slashes))
                if ln.tag not in POINTER_KINDS:
                    continue
                want = POINTER_KINDS[ln.tag]
                if ln.value is None or not POINTER_RE.match(ln.value):
                    self.error(ln.number, "%s without a pointer" % ln.tag)
                    continue
                if kinds.get(ln.value) != want:
                    self.error(ln.number, "%s %s does not point to a %s record" % (ln.tag, ln.value, want))
                    continue
                counts[ln.tag] = counts.get(ln.tag, 0) + 1
                if rec.tag == "FAM" and ln.tag in ("HUSB", "WIFE"):
                    fam_links.add((rec.xref, "S", ln.value, ln.number))
                elif rec.tag == "FAM" and ln.tag == "CHIL":
                    fam_links.add((rec.xref, "C", ln.value, ln.number))
                elif rec.tag == "INDI" and ln.tag == "FAMS":
                    indi_links.add((ln.value, "S", rec.xref, ln.number))
                elif rec.tag == "INDI" and ln.tag == "FAMC":
                    indi_links.add((ln.value, "C", rec.xref, ln.number))
            if rec.tag == "FAM":
                for tag in ("HUSB", "WIFE"):
                    if counts.get(tag, 0) > 1:
                        self.error(rec.number, "family %s has %d %s lines" % (rec.xref, counts[tag], tag))
        fam_keys = {k[:3] for k in fam_links}
        indi_keys = {k[:3] for k in indi_links}
        for fam, role, indi, number in sorted(fam_links, key=lambda k: k[3]):
            if role == "C" and (fam, "S", indi) in fam_keys:
                self.error(number, "%s names %s as spouse and as child" % (fam, indi))
        for fam, role, indi, number in sorted(fam_links, key=lambda k: k[3]):
            if (fam, role, indi) not in indi_keys:
                self.error(number, "%s names %s, who has no %s back" % (fam, indi, "FAMS" if role == "S" else "FAMC"))
        for fam, role, indi, number in sorted(indi_links, key=lambda k: k[3]):
            if (fam, role, indi) not in fam_keys:
                self.error(number, "%s names %s, which has no %s back" % (indi, fam, "HUSB/WIFE" if role == "S" else "CHIL"))


def main(argv):
    args = [a for a in argv[1:] if not a.startswith("--")]
    opts = [a for a in argv[1:] if a.startswith("--")]
    if len(args) != 1 or any(o != "--counts" for o in opts):
        print("usage: gedcheck.py [--counts] FILE.ged", file=sys.stderr)
        return 2
    try:
        with open(args[0], "rb") as f:
            data = f.read()
    except OSError as e:
        print("error: %s" % e, file=sys.stderr)
        return 2
    checker = Checker()
    counts = checker.check(data)
    for e in checker.errors:
        print(e)
    if checker.errors:
        return 1
    if "--counts" in opts:
        print("INDI %d" % counts["INDI"])
        print("FAM %d" % counts["FAM"])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
