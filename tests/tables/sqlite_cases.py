#!/usr/bin/env python3
"""Evaluates filter expressions with python3's sqlite3 over a small table.

The case file (argv[1]) holds tab-separated lines:
  COLUMNS name:kind ...        kinds S text, I integer, F real, D day number
  ROW id value ...             \\N for NULL; D values are proleptic ordinals
  EXPR sqlite-expression
For each EXPR one line goes to stdout, a letter per row in id order: T, F,
or N when the expression is NULL; or "E <message>" when SQLite refuses it.
"""
import datetime
import sqlite3
import sys

KINDS = {"S": "TEXT", "I": "INTEGER", "F": "REAL", "D": "TEXT"}


def value(kind, text):
    if text == "\\N":
        return None
    if kind == "I":
        return int(text)
    if kind == "F":
        return float(text)
    if kind == "D":
        return datetime.date.fromordinal(int(text)).isoformat()
    return text


def main(path):
    db = sqlite3.connect(":memory:")
    db.execute("PRAGMA case_sensitive_like = ON")
    columns = []
    out = []
    for line in open(path, encoding="latin-1").read().split("\n"):
        parts = line.split("\t")
        if parts[0] == "COLUMNS":
            columns = [p.split(":") for p in parts[1:]]
            db.execute("CREATE TABLE t (id INTEGER, " + ", ".join(n + " " + KINDS[k] for n, k in columns) + ")")
        elif parts[0] == "ROW":
            values = [int(parts[1])] + [value(k, v) for (n, k), v in zip(columns, parts[2:])]
            db.execute("INSERT INTO t VALUES (" + ",".join("?" * len(values)) + ")", values)
        elif parts[0] == "EXPR":
            e = parts[1]
            try:
                rows = db.execute("SELECT CASE WHEN (" + e + ") IS NULL THEN 1 WHEN (" + e + ") THEN 2 ELSE 3 END"
                                  " FROM t ORDER BY id").fetchall()
                out.append("".join("?NTF"[r[0]] for r in rows))
            except Exception as error:
                out.append("E " + str(error))
    print("\n".join(out))


if __name__ == "__main__":
    main(sys.argv[1])
