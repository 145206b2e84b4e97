#!/usr/bin/env python3
"""What key searches and ranges over an index on (S, I) must visit, answered
by sqlite3 queries over the same rows.

    keys_expect.py ROWS QUERIES CI

ROWS: lines "id s i" in append order (record IDs follow it). QUERIES: lines
    F s i        exact search: the first id in index order with that key, or -
    N s          nearest on the first field: the first id whose S is not
                 below s, else the last id in index order
    R s1 s2      the ids whose S lies in [s1, s2], in index order
    C            every id in index order
CI 1 compares S case-blind (upper case), else byte by byte. Index order is
S, I, then the record ID.
"""
import sqlite3
import sys

ci = sys.argv[3] == '1'
db = sqlite3.connect(':memory:')
db.execute('CREATE TABLE t (id INTEGER, s TEXT, i INTEGER)')
with open(sys.argv[1]) as f:
    db.executemany('INSERT INTO t VALUES (?, ?, ?)', ([int(a), b, int(c)] for a, b, c in (l.split() for l in f)))
key = 'upper(s)' if ci else 's'
arg = 'upper(?)' if ci else '?'
order = ' ORDER BY %s, i, id' % key
for line in open(sys.argv[2]):
    q = line.split()
    if q[0] == 'F':
        row = db.execute('SELECT id FROM t WHERE %s = %s AND i = ?%s' % (key, arg, order), (q[1], int(q[2]))).fetchone()
        print('F', row[0] if row else '-')
    elif q[0] == 'N':
        row = db.execute('SELECT id FROM t WHERE %s >= %s%s' % (key, arg, order), (q[1],)).fetchone()
        if row is None:
            row = db.execute('SELECT id FROM t ORDER BY %s DESC, i DESC, id DESC' % key).fetchone()
        print('N', row[0])
    elif q[0] == 'R':
        rows = db.execute('SELECT id FROM t WHERE %s BETWEEN %s AND %s%s' % (key, arg, arg, order), (q[1], q[2]))
        print('R' + ''.join(' %d' % r[0] for r in rows))
    else:
        print('C' + ''.join(' %d' % r[0] for r in db.execute('SELECT id FROM t' + order)))
