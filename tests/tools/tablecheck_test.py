#!/usr/bin/env python3
"""Tests of tools/tablecheck.py on tables written here from the documented
layouts: a clean table passes, and each rule fires on a copy that breaks
only it."""

import os
import struct
import subprocess
import sys
import tempfile
import unittest

CHECKER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "tablecheck.py")
# The engine's key pairs, as the checker's command line takes them (an
# engine test compares them with the engine's constants).
ENGINE_KEYS = "90,195,62,151,177,109"

B = 512
RECORD = 35  # 9 + Name(10+1, +1) + Memo(8, +1) + N(4, +1); Id lives at 5


def cipher(data, key1, key2):
    out = bytearray(data)
    for i in range(len(out)):
        out[i] ^= key1 ^ key2
        key1, key2 = (key1 + 1) & 255, (key2 - 1) & 255
    return bytes(out)


def definition(number, name, dtype, size, sub, offset, phys):
    d = bytearray(768)
    struct.pack_into("<H", d, 0, number)
    d[2] = len(name)
    d[3:3 + len(name)] = name
    d[84], d[85], d[86], d[88] = dtype, sub, size, phys
    struct.pack_into("<H", d, 90, offset)
    return d


def block(prev, nxt, used, signature, total, data):
    return struct.pack("<IIHII", prev, nxt, used, signature, total) + data.ljust(B - 18, b"\0")


class Table:
    """Name string(10), Id auto-increment, Memo BLOB, N integer. Record 1
    holds a 600-byte BLOB in blocks 512 and 1024, record 2 is deleted (the
    free chain), record 3 has no BLOB; block 1536 is the free block chain."""

    def __init__(self, encrypted=False):
        self.encrypted = encrypted
        self.header = bytearray(127)
        struct.pack_into("<IHHBIIIHHH", self.header, 0, 1, 0, 0, 4, 2, 4, 3, RECORD, 4, 1)
        struct.pack_into("<q", self.header, 116, 21100)
        self.header[86] = 1 if encrypted else 0
        self.fields = [definition(1, b"Name", 1, 10, 0, 9, 11), definition(2, b"Id", 6, 0, 29, 5, 4),
                       definition(3, b"Memo", 3, 0, 0, 21, 8), definition(4, b"N", 6, 0, 0, 30, 4)]
        self.records = []
        for n, (deleted, link, ref, sig) in enumerate([(0, 1, 512, 7), (1, 0, 0, 0), (0, 3, 0, 0)], 1):
            r = bytearray(RECORD)
            r[0] = deleted
            struct.pack_into("<II", r, 1, link, n)
            r[10:15] = b"abcd\0"
            r[21] = 1
            struct.pack_into("<iI", r, 22, ref, sig)
            struct.pack_into("<i", r, 31, 100 * n)
            self.records.append(r)
        self.blob_header = bytearray(512)
        self.blob_header[8] = 4
        struct.pack_into("<II", self.blob_header, 9, 1536, 2048)
        content = bytes(range(256)) * 3
        self.blocks = [bytearray(block(0, 1024, 494, 7, 600, content[:494])),
                       bytearray(block(512, 0, 106, 7, 0, content[494:600])),
                       bytearray(block(0, 0, 0, 9, 0, b""))]
        self.tail = b""
        self.blob_tail = b""

    def write(self, folder):
        keys = [int(k) for k in ENGINE_KEYS.split(",")]
        fields = b"".join(self.fields)
        records = list(self.records)
        blob_header, blocks = bytes(self.blob_header), [bytes(b) for b in self.blocks]
        if self.encrypted:
            fields = cipher(fields, keys[2], keys[3])
            records = [cipher(r, keys[2], keys[3]) for r in records]
            blob_header = cipher(blob_header, keys[4], keys[5])
            blocks = [cipher(b[:18], keys[4], keys[5]) + cipher(b[18:], keys[4], keys[5]) for b in blocks]
        path = os.path.join(folder, "t.DAT")
        with open(path, "wb") as f:
            f.write(bytes(self.header) + fields + b"".join(bytes(r) for r in records) + self.tail)
        with open(os.path.join(folder, "t.BLB"), "wb") as f:
            f.write(blob_header + b"".join(blocks) + self.blob_tail)
        return path


def run(path, *options):
    p = subprocess.run([sys.executable, CHECKER, *options, path], capture_output=True, text=True)
    return p.returncode, p.stdout


def put(buffer, offset, fmt, *values):
    struct.pack_into(fmt, buffer, offset, *values)


class TableCheckTest(unittest.TestCase):
    def check(self, table, *options):
        with tempfile.TemporaryDirectory() as folder:
            return run(table.write(folder), *options)

    def test_clean_tables_pass_plain_and_encrypted(self):
        self.assertEqual(self.check(Table()), (0, ""))
        self.assertEqual(self.check(Table(True), "--keys", ENGINE_KEYS), (0, ""))
        status, out = self.check(Table(True))
        self.assertEqual(status, 1)
        self.assertIn("give the key pairs", out)
        status, out = self.check(Table(True), "--keys", "1,2,3,4,5,6")
        self.assertEqual(status, 1)

    def test_dump_reads_values_and_blobs(self):
        status, out = self.check(Table(), "--dump")
        self.assertEqual(status, 0)
        lines = out.splitlines()
        self.assertEqual(lines[0], "L 35 3199 3")
        self.assertIn("F 2 5 4", lines)
        self.assertIn("V 1 0 61626364", lines)
        self.assertIn("V 4 0 300", lines)
        self.assertIn("B 3 512 7 " + (bytes(range(256)) * 3)[:600].hex(), lines)
        self.assertIn("R 2 1 2", lines)

    def test_usage_and_missing_files(self):
        self.assertEqual(run("/nonexistent/x.DAT")[0], 2)
        self.assertEqual(run("a.DAT", "--keys", "1,2")[0], 2)

    # Each case breaks one rule; the error names it.
    def test_each_rule_fires_alone(self):
        def field(n, offset, fmt, value):
            return lambda t: put(t.fields[n - 1], offset, fmt, value)

        def name(n, text):
            def change(t):
                t.fields[n - 1][2] = len(text)
                t.fields[n - 1][3:3 + len(text)] = text
            return change

        def record(n, offset, fmt, value):
            return lambda t: put(t.records[n - 1], offset, fmt, value)

        def blk(i, offset, fmt, value):
            return lambda t: put(t.blocks[i], offset, fmt, value)

        def extra_blocks(t):
            t.blocks.append(bytearray(block(0, 0, 0, 0, 0, b"")))
            put(t.blob_header, 13, "<I", 2560)

        def shared_chain(t):
            put(t.records[2], 22, "<iI", 512, 7)

        def self_cycle(t):
            put(t.blocks[1], 4, "<I", 1024)

        cases = [
            (lambda t: put(t.header, 8, "B", 3), "version 3"),
            (lambda t: put(t.header, 23, "<H", 1025), "1025 fields"),
            (name(1, b""), "blank name"),
            (name(1, b"1ame"), "does not start with a letter"),
            (name(4, b"N" * 31), "longer than 30"),
            (name(4, b"NAME"), "same name as field 1"),
            (field(4, 0, "<H", 1), "same field number as field 1"),
            (field(4, 86, "B", 3), "size 3 on a type without one"),
            (field(1, 86, "B", 251), "above 250"),
            (field(4, 87, "B", 2), "decimals on a type other than BCD"),
            (field(4, 88, "B", 5), "physical size 5, expected 4"),
            (field(4, 89, "B", 1), "physical decimals 1"),
            (field(4, 90, "<H", 31), "offset 31, expected 30"),
            (field(2, 90, "<H", 9), "offset 9, expected 5"),
            (field(4, 84, "B", 0), "data type 0"),
            (field(4, 248, "<I", 0x1234), "bytes 248-251"),
            (lambda t: t.fields[3].__setitem__(slice(196, 200), b"\x03abc"), "default 'abc'"),
            (lambda t: put(t.header, 21, "<H", 36), "record size 36"),
            (lambda t: put(t.header, 25, "<H", 0), "BLOB field count 0"),
            (lambda t: setattr(t, "tail", b"xy"), "not whole records"),
            (lambda t: put(t.header, 13, "<I", 5), "next physical record 5"),
            (record(3, 0, "B", 2), "deleted flag 2"),
            (record(3, 1, "<I", 9), "carries number 9"),
            (lambda t: put(t.header, 9, "<I", 7), "beyond the last"),
            (lambda t: put(t.header, 9, "<I", 3), "which is in use"),
            (record(2, 1, "<I", 2), "returns to record 2"),
            (record(1, 22, "<i", -5), "negative BLOB reference"),
            (record(1, 22, "<i", 600), "reference 600 is not a block"),
            (record(1, 22, "<i", 2048), "reference 2048 is not a block"),
            (blk(0, 10, "<I", 8), "signature 8, expected 7"),
            (blk(1, 0, "<I", 0), "links back to 0, expected 512"),
            (blk(1, 8, "<H", 100), "holds 100 bytes, expected 106"),
            (blk(1, 14, "<I", 5), "holds a BLOB length"),
            (blk(0, 4, "<I", 1030), "links to 1030, not a block"),
            (blk(0, 14, "<I", 700), "BLOB length 700"),
            (self_cycle, "is also in record 1"),
            (shared_chain, "is also in record 1"),
            (lambda t: put(t.blob_header, 8, "B", 3), "BLOB file version 3"),
            (lambda t: put(t.blob_header, 13, "<I", 2560), "header file size 2560"),
            (lambda t: setattr(t, "blob_tail", b"z"), "not 512 plus whole blocks"),
            (lambda t: put(t.blob_header, 9, "<I", 1000), "free block chain starts at 1000"),
            (lambda t: put(t.blob_header, 9, "<I", 1024), "is also in record 1"),
            (blk(2, 4, "<I", 1536), "is also in the free block chain"),
            (blk(2, 4, "<I", 4096), "links to 4096"),
        ]
        for change, message in cases:
            with self.subTest(message=message):
                table = Table()
                change(table)
                status, out = self.check(table)
                self.assertEqual(status, 1, out)
                self.assertIn(message, out)
                self.assertTrue(all(line.startswith(("error: ", "warning: ")) for line in out.splitlines()))
        table = Table()
        extra_blocks(table)
        self.assertEqual(self.check(table), (0, "warning: block 2048 is in no BLOB and not in the free chain\n"))


if __name__ == "__main__":
    unittest.main()
