#!/usr/bin/env python3
"""Damaged copies of a reference table, one fault each, made with struct
from the documented layouts of the data, index and BLOB files.

    corrupt_fixtures.py derive REFERENCE_DIR OUT_DIR
        Copies REFERENCE_DIR/t.{DAT,IDX,BLB} into OUT_DIR/<fault>/ and
        damages each copy; prints the fault names, one a line.
    corrupt_fixtures.py records TABLE.DAT...
        Prints the records python3 can read from each (damaged) plain table,
        after a line "= TABLE.DAT", one a line: "<physical number> <deleted
        flag> <hex of the bytes of every field that is neither a BLOB nor
        auto-increment>". The layout comes from the field definitions
        (offset 90 of each), not from the header's record size; a partial
        record at the end is left out.
    corrupt_fixtures.py check TABLE.DAT...
        Runs tools/tablecheck.py's check on each table in this one process
        and prints, per table, "= TABLE.DAT <exit status>" and its lines.

The reference table: field 1 string, 2 integer (the unique primary key),
3 BLOB, 4 string (a secondary index); BLOB block size 512; some records
deleted, on the free chain.
"""
import os
import shutil
import struct
import sys

HEADER, DEFINITION, BLOB_HEADER, BLOCK_HEADER, INDEX_HEADER = 127, 768, 512, 18, 4096


def read(path):
    with open(path, "rb") as f:
        return bytearray(f.read())


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


class Table:
    def __init__(self, folder):
        self.folder = folder
        self.dat = read(self.path("DAT"))
        self.idx = read(self.path("IDX"))
        self.blb = read(self.path("BLB"))
        (self.record_size, self.field_count) = struct.unpack_from("<HH", self.dat, 21)
        self.start = HEADER + DEFINITION * self.field_count
        self.fields = []
        for i in range(self.field_count):
            d = HEADER + DEFINITION * i
            self.fields.append({"at": d, "type": self.dat[d + 84], "sub": self.dat[d + 85],
                                "size": self.dat[d + 88], "offset": struct.unpack_from("<H", self.dat, d + 90)[0]})

    def path(self, ext):
        return os.path.join(self.folder, "t." + ext)

    def save(self):
        write(self.path("DAT"), self.dat)
        write(self.path("IDX"), self.idx)
        write(self.path("BLB"), self.blb)

    def records(self):
        return (len(self.dat) - self.start) // self.record_size

    def record_at(self, n):
        return self.start + (n - 1) * self.record_size

    def live(self):
        return [n for n in range(1, self.records() + 1) if self.dat[self.record_at(n)] == 0]

    def deleted(self):
        return [n for n in range(1, self.records() + 1) if self.dat[self.record_at(n)] == 1]

    def blob_field(self):
        return next(f for f in self.fields if f["type"] == 3)

    def blob_ref(self, n):
        at = self.record_at(n) + self.blob_field()["offset"]
        return at, struct.unpack_from("<i", self.dat, at + 1)[0]

    def chain(self, n):
        """The block offsets of record n's BLOB."""
        _, ref = self.blob_ref(n)
        out = []
        while ref:
            out.append(ref)
            ref = struct.unpack_from("<I", self.blb, ref + 4)[0]
        return out

    def record_with_blocks(self, count):
        return next(n for n in self.live() if len(self.chain(n)) >= count)

    def put32(self, data, at, value, fmt="<I"):
        struct.pack_into(fmt, data, at, value)


def faults(t):
    """(name, damage) pairs; each damage changes one copy."""
    live, deleted = t.live(), t.deleted()
    blob = t.blob_field()
    one, two, three = t.record_with_blocks(1), t.record_with_blocks(2), t.record_with_blocks(3)
    slot = lambda s: 14 + 120 * s  # noqa: E731

    def field_name(name):
        def damage(t):
            d = t.fields[0]["at"]
            t.dat[d + 2:d + 33] = bytes([len(name)]) + name.ljust(30, b"\0")
        return damage

    def header32(offset, value):
        return lambda t: t.put32(t.dat, offset, value)

    def record_id(n, value):
        return lambda t: t.put32(t.dat, t.record_at(n) + 5, value)

    def blob_reference(n, value, flag=None):
        def damage(t):
            at, _ = t.blob_ref(n)
            t.put32(t.dat, at + 1, value, "<i")
            if flag is not None:
                t.dat[at] = flag
        return damage

    def block(n, k, offset, value, fmt="<I"):
        return lambda t: t.put32(t.blb, t.chain(n)[k] + offset, value, fmt)

    def free_cycle(t):
        a, b = deleted[0], deleted[1]
        t.put32(t.dat, 9, a)
        t.put32(t.dat, t.record_at(a) + 1, b)
        t.put32(t.dat, t.record_at(b) + 1, a)

    def duplicate_key(t):
        num = t.fields[1]["offset"]
        src, dst = t.record_at(live[1]), t.record_at(live[6])
        t.dat[dst + num:dst + num + 5] = t.dat[src + num:src + num + 5]

    def remove_index(t):
        os.remove(t.path("IDX"))
        t.idx = None

    def cycle_to_first(length):
        def damage(t):
            c = t.chain(three)
            t.put32(t.blb, c[length - 1] + 4, c[0])
        return damage

    out = [
        ("field_name_blank", field_name(b"")),
        ("field_name_digit", field_name(b"1Name")),
        ("field_name_duplicate", field_name(b"Code")),
        ("field_offset", lambda t: t.put32(t.dat, t.fields[1]["at"] + 90, 3, "<H")),
        ("record_size_high", header32(21, 0)),  # replaced below: 16-bit
        ("record_size_low", None),
        ("blob_field_count", lambda t: t.put32(t.dat, 25, 0, "<H")),
        ("partial_record", lambda t: t.dat.extend(b"\x00" * 7)),
        ("next_physical_high", lambda t: t.put32(t.dat, 13, t.records() + 4)),
        ("next_physical_low", lambda t: t.put32(t.dat, 13, t.records() - 1)),
        ("free_chain_cycle", free_cycle),
        ("free_chain_live_link", lambda t: t.put32(t.dat, 9, live[2])),
        ("free_chain_beyond_end", lambda t: t.put32(t.dat, 9, 999)),
        ("deleted_flag_invalid", lambda t: t.dat.__setitem__(t.record_at(live[3]), 7)),
        ("record_id_zero", record_id(live[4], 0)),
        ("record_id_duplicate", record_id(live[5], struct.unpack_from("<I", t.dat, t.record_at(live[0]) + 5)[0])),
        ("last_record_id_low", header32(17, 2)),
        ("duplicate_unique_key", duplicate_key),
        ("blob_reference_511", blob_reference(one, 511)),
        ("blob_reference_at_size", blob_reference(one, len(t.blb))),
        ("blob_reference_unaligned", blob_reference(one, t.chain(one)[0] + 7)),
        ("blob_reference_negative", blob_reference(one, -512)),
        ("blob_reference_null_field", blob_reference(one, t.chain(one)[0], flag=0)),
        ("blob_signature_foreign", block(one, 0, 10, 77777)),
        ("blob_cycle_1", cycle_to_first(1)),
        ("blob_cycle_2", cycle_to_first(2)),
        ("blob_cycle_3", cycle_to_first(3)),
        ("blob_link_unaligned", block(two, 0, 4, 1000)),
        ("blob_block_length", block(two, 0, 8, 100, "<H")),
        ("blob_size_mismatch", block(two, 0, 14, 5000)),
        ("blob_deleted_record_cycle", None),
        ("blb_misaligned", lambda t: t.blb.extend(b"\x00" * 100)),
        ("blb_header_size", lambda t: t.put32(t.blb, 13, len(t.blb) + 512)),
        ("blb_free_chain_unaligned", lambda t: t.put32(t.blb, 9, 700)),
        ("idx_root_unaligned", lambda t: t.put32(t.idx, slot(1) + 86, INDEX_HEADER + 13)),
        ("idx_key_size", lambda t: t.put32(t.idx, slot(1) + 31, 7, "<H")),
        ("idx_key_field_number", lambda t: t.put32(t.idx, slot(1) + 54, 99, "<H")),
        ("idx_count_31", lambda t: t.idx.__setitem__(13, 31)),
        ("idx_missing", remove_index),
    ]
    rs = t.record_size
    fixed = []
    for name, damage in out:
        if name == "record_size_high":
            damage = lambda t, rs=rs: t.put32(t.dat, 21, rs + 1, "<H")  # noqa: E731
        elif name == "record_size_low":
            damage = lambda t, rs=rs: t.put32(t.dat, 21, rs - 1, "<H")  # noqa: E731
        elif name == "blob_deleted_record_cycle":
            if not any(t.chain(n) for n in deleted):
                continue
            victim = next(n for n in deleted if t.chain(n))

            def damage(t, victim=victim):
                c = t.chain(victim)
                t.put32(t.blb, c[-1] + 4, c[0])
        fixed.append((name, damage))
    return fixed


def derive(reference, out_dir):
    names = []
    for name, damage in faults(Table(reference)):
        folder = os.path.join(out_dir, name)
        os.makedirs(folder, exist_ok=True)
        for ext in ("DAT", "IDX", "BLB"):
            shutil.copyfile(os.path.join(reference, "t." + ext), os.path.join(folder, "t." + ext))
        t = Table(folder)
        damage(t)
        idx = t.idx
        write(t.path("DAT"), t.dat)
        write(t.path("BLB"), t.blb)
        if idx is not None:
            write(t.path("IDX"), idx)
        names.append(name)
    print("\n".join(names))


def records(path):
    print("=", path)
    dat = read(path)
    (count,) = struct.unpack_from("<H", dat, 23)
    start = HEADER + DEFINITION * count
    layout, size = [], 9
    for i in range(count):
        d = HEADER + DEFINITION * i
        kind, sub, physical = dat[d + 84], dat[d + 85], dat[d + 88]
        if kind == 6 and sub == 29:
            continue
        if kind != 3:
            layout.append((size, physical + 1))
        size += physical + 1
    for n in range(1, (len(dat) - start) // size + 1):
        r = dat[start + (n - 1) * size:start + n * size]
        print(n, r[0], b"".join(bytes(r[o:o + s]) for o, s in layout).hex())


def check(path):
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "tools"))
    import tablecheck

    try:
        report = tablecheck.check_table(path, None, False, [])
        status, lines = (1 if report.errors else 0), report.lines
    except OSError as e:
        status, lines = 2, ["cannot read: %s" % e]
    print("=", path, status)
    for line in lines:
        print(line)


if __name__ == "__main__":
    if sys.argv[1] == "derive":
        derive(sys.argv[2], sys.argv[3])
    else:
        for table in sys.argv[2:]:
            {"records": records, "check": check}[sys.argv[1]](table)
