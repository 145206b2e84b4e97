#!/usr/bin/env python3
"""Answers SELECT statements with python3's sqlite3 over generated tables.

The case file (argv[1]) holds tab-separated lines:
  RESET                         a new, empty database
  TABLE name col:kind ...       kinds I integer, F real, S text, M money
                                (exact decimal text), D date, T time,
                                P timestamp (ISO texts)
  ROW name value ...            \\N for NULL
  QUERY id sql                  one statement
  PART name                     the answers so far are complete: they go to
                                argv[2] + "." + name, the next to a new file
For each QUERY the answer goes to argv[2]: a line "Q id n" with the row
count (or "Q id E message" when SQLite refuses it), then one line per row,
the values separated by tabs, each tagged: N (NULL), I<int>, F<repr of a
float>, S<text>.
"""
import decimal
import os
import sqlite3
import sys


def cell(kind, text):
    if text == "\\N":
        return None
    if kind == "I":
        return int(text)
    if kind in ("F", "M"):
        # Money arrives as exact decimal text; quarters are exact in binary.
        d = decimal.Decimal(text)
        assert float(d) == d, text
        return float(d)
    return text


def tag(v):
    # A stored '' is NULL in the other engine.
    if v is None or v == "":
        return "N"
    if isinstance(v, int):
        return "I%d" % v
    if isinstance(v, float):
        return "F" + repr(v)
    return "S" + str(v).replace("\t", " ").replace("\n", " ")


def main(case_path, answer_path):
    db = None
    kinds = {}
    out = open(answer_path + ".part", "w", encoding="latin-1")
    for line in open(case_path, encoding="latin-1").read().split("\n"):
        if not line:
            continue
        parts = line.split("\t")
        what = parts[0]
        if what == "RESET":
            if db is not None:
                db.close()
            db = sqlite3.connect(":memory:")
            db.execute("PRAGMA case_sensitive_like = ON")
            kinds = {}
        elif what == "TABLE":
            columns = [p.split(":") for p in parts[2:]]
            kinds[parts[1]] = [k for _, k in columns]
            sql_type = {"I": "INTEGER", "F": "REAL", "M": "REAL", "S": "TEXT", "D": "TEXT", "T": "TEXT", "P": "TEXT"}
            db.execute("CREATE TABLE %s (%s)" % (parts[1], ", ".join(n + " " + sql_type[k] for n, k in columns)))
        elif what == "ROW":
            row = [cell(k, v) for k, v in zip(kinds[parts[1]], parts[2:])]
            db.execute("INSERT INTO %s VALUES (%s)" % (parts[1], ",".join("?" * len(row))), row)
        elif what == "PART":
            # Written whole, then renamed: a reader never sees half a part.
            out.close()
            os.rename(answer_path + ".part", answer_path + "." + parts[1])
            out = open(answer_path + ".part", "w", encoding="latin-1")
        elif what == "QUERY":
            try:
                rows = db.execute(parts[2]).fetchall()
            except Exception as error:
                out.write("Q %s E %s\n" % (parts[1], str(error).replace("\n", " ")))
                continue
            out.write("Q %s %d\n" % (parts[1], len(rows)))
            for r in rows:
                out.write("\t".join(tag(v) for v in r) + "\n")
    out.close()
    os.rename(answer_path + ".part", answer_path)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
