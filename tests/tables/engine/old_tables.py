#!/usr/bin/env python3
"""Tables as engine versions 2 ("1.04") and 3 ("1.08") wrote them, made with
struct from the old layouts, and the check of their upgraded form.

    old_tables.py [--keys A1,A2,B1,B2,C1,C2] write VERSION FOLDER
        Writes FOLDER/t.DAT, t.IDX and t.BLB (enciphered with the key pairs
        when given, password "pw"): fields Name (string 20),
        Id (auto-increment), Memo1 (BLOB), Num (integer), Memo2 (BLOB);
        six records, the fourth deleted; a unique primary index on Num and a
        secondary index ByName.
    old_tables.py downgrade FOLDER
        Rewrites FOLDER/t (version 4, not enciphered) as version 3 wrote
        it: BLOB fields of flag and reference only, fields placed from
        offset 9 on, no engine stamp, version byte 3 in all three headers
        (index pages and BLOB blocks left as they are).
    old_tables.py [--keys ...] check VERSION FOLDER
        Checks the upgraded table against the values written (through
        tools/tablecheck.py's reading), the BLOB signatures (n - 1) * 2 + k,
        the header's last signature and engine stamp, and the ".DUP" and
        ".IUP" files. Prints what differs; exits 1 when something does.
"""
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "tools"))
import tablecheck  # noqa: E402

BLOCK = 512
MEMO1 = [b"", b"first memo", bytes(range(256)) * 3, b"x" * 494, b"deleted", b"y" * 1000]
MEMO2 = [b"two", b"", b"z" * 495, b"", b"", b"last" * 100]
NUMS = [7, None, 21, 28, 35, -42]
NAMES = [b"Anna", b"Bert", b"", b"Dora", b"Emil", b"Frieda"]
DELETED = 4


def short(text, slot):
    return bytes([len(text)]) + text.ljust(slot - 1, b"\0")


# (name, type, sub type, declared size, physical size, old offset)
FIELDS = [(b"Name", 1, 0, 20, 21, 9), (b"Id", 6, 29, 0, 4, 5), (b"Memo1", 3, 22, 0, 8, 31),
          (b"Num", 6, 0, 0, 4, 36), (b"Memo2", 3, 22, 0, 8, 41)]
OLD_RECORD = 46


def field_definition(version, number, field):
    name, kind, sub, size, physical, offset = field
    if version < 3:
        d = bytearray(265)
        struct.pack_into("<H", d, 0, number)
        d[2:33] = short(name, 31)
        d[84:88] = bytes([kind, sub, size, 0])
        struct.pack_into("<H", d, 88, offset)
        d[92:143] = short(b"", 51)
        return bytes(d)
    d = bytearray(768)
    struct.pack_into("<H", d, 0, number)
    d[2:33] = short(name, 31)
    d[84:90] = bytes([kind, sub, size, 0, physical if kind != 3 else 4, 0])
    struct.pack_into("<H", d, 90, offset)
    return bytes(d)


def write(version, folder, keys=None):
    cipher = (lambda data, pair: tablecheck.decipher(data, *pair)) if keys else (lambda data, pair: data)
    blob_pair = keys[2] if keys else None
    blb = bytearray(BLOCK)
    blocks = []

    def put_blob(content):
        if not content:
            return 0
        room = BLOCK - 18
        pieces = [content[i:i + room] for i in range(0, len(content), room)]
        first = len(blb)
        offsets = [first + i * BLOCK for i in range(len(pieces))]
        for i, piece in enumerate(pieces):
            prev = offsets[i - 1] if i else 0
            nxt = offsets[i + 1] if i + 1 < len(pieces) else 0
            head = struct.pack("<IIHII", prev, nxt, len(piece), 0, len(content) if i == 0 else 0)
            blb.extend(cipher(head, blob_pair) + cipher(piece.ljust(room, b"\0"), blob_pair))
        blocks.append(first)
        return first

    records = bytearray()
    for i in range(6):
        n = i + 1
        r = bytearray(OLD_RECORD)
        deleted = n == DELETED
        r[0] = 1 if deleted else 0
        struct.pack_into("<I", r, 1, 0 if deleted else n)
        struct.pack_into("<I", r, 5, n)
        r[9] = 1 if NAMES[i] else 0
        r[10:31] = NAMES[i].ljust(21, b"\0")
        for offset, memo in ((31, MEMO1[i]), (41, MEMO2[i])):
            ref = 0 if deleted else put_blob(memo)
            r[offset] = 1 if ref else 0
            struct.pack_into("<i", r, offset + 1, ref)
        if NUMS[i] is not None:
            r[36] = 1
            struct.pack_into("<i", r, 37, NUMS[i])
        records.extend(cipher(bytes(r), keys[1]) if keys else r)
    struct.pack_into("<BII", blb, 8, version, 0, len(blb))
    blb[:BLOCK] = cipher(bytes(blb[:BLOCK]), blob_pair)

    header = bytearray(127)
    struct.pack_into("<IHHBIIIHHH", header, 0, 5, 0, 0, version, DELETED, 7, 6, OLD_RECORD, len(FIELDS), 2)
    header[35:86] = short(b"an old table", 51)
    definitions = b"".join(field_definition(version, i + 1, f) for i, f in enumerate(FIELDS))
    if keys:
        header[86] = 1
        header[87:103] = short(b"pw", 16)
        header[36:36 + header[35]] = cipher(bytes(header[36:36 + header[35]]), keys[0])
        header[88:90] = cipher(bytes(header[88:90]), keys[0])
        definitions = cipher(definitions, keys[1])
    dat = bytes(header) + definitions + bytes(records)

    if version < 3:
        idx = bytearray(2560)
        struct.pack_into("<I", idx, 0, 3)
        idx[13] = 1
        for slot, (name, key_size, unique, field) in enumerate(((b"", 5, 1, 4), (b"ByName", 26, 0, 1))):
            d = 14 + 76 * slot
            idx[d:d + 31] = short(name, 31)
            idx[d + 31:d + 36] = bytes([key_size, 0, 0, unique, 1])
            struct.pack_into("<H", idx, d + 36, field)
            struct.pack_into("<II", idx, d + 68, 2560, 0)
        idx = bytearray(cipher(bytes(idx), blob_pair))
        idx.extend(b"\xEE" * 1024)  # old pages, not carried over
    else:
        idx = bytearray(4096)
        struct.pack_into("<IIBIB", idx, 0, 3, 0, 3, 4096, 1)
        for slot, (name, key_size, unique, field) in enumerate(((b"", 5, 1, 4), (b"ByName", 26, 0, 1))):
            d = 14 + 120 * slot
            idx[d:d + 31] = short(name, 31)
            struct.pack_into("<H", idx, d + 31, key_size)
            idx[d + 33:d + 38] = bytes([0, 0, unique, 0, 1])
            struct.pack_into("<H", idx, d + 54, field)
        d = 14 + 120 * 31
        idx[d:d + 31] = short(b"Sys Deleted", 31)
        struct.pack_into("<H", idx, d + 31, 5)
        idx[d + 35] = 1
        idx = bytearray(cipher(bytes(idx), blob_pair))
    for ext, data in (("DAT", dat), ("IDX", idx), ("BLB", blb)):
        with open(os.path.join(folder, "t." + ext), "wb") as f:
            f.write(data)


def check(version, folder, keys=None):
    problems = []
    path = os.path.join(folder, "t.DAT")
    out = []
    report = tablecheck.check_table(path, keys, True, out)
    problems += [line for line in report.lines if line.startswith("error")]
    with open(path, "rb") as f:
        header = f.read(127)
    (last_signature,) = struct.unpack_from("<I", header, 112)
    (stamp,) = struct.unpack_from("<q", header, 116)
    if header[8] != 4 or stamp != 21100 or last_signature != 12:
        problems.append("header: version %d, stamp %d, last signature %d" % (header[8], stamp, last_signature))
    for ext, wanted in (("DUP", True), ("IUP", version < 3)):
        if os.path.exists(os.path.join(folder, "t." + ext)) != wanted:
            problems.append("t.%s %s" % (ext, "missing" if wanted else "present"))
    records, current = {}, None
    for line in out:
        kind, *rest = line.split(" ")
        if kind == "R":
            current = {"deleted": int(rest[1]), "id": int(rest[2])}
            records[int(rest[0])] = current
        elif kind == "V":
            current[int(rest[0])] = (int(rest[1]), rest[2] if len(rest) > 2 else "")
        elif kind == "B":
            current[int(rest[0])] = (int(rest[2]), rest[3] if len(rest) > 3 else "")
    for i in range(6):
        n = i + 1
        r = records.get(n)
        if r is None:
            problems.append("record %d missing" % n)
            continue
        if r["deleted"] != (n == DELETED) or r["id"] != n:
            problems.append("record %d: deleted %d, id %d" % (n, r["deleted"], r["id"]))
        if n == DELETED:
            continue
        want = {1: (1 if NAMES[i] else 0, NAMES[i].hex()),
                4: (0, "0") if NUMS[i] is None else (1, str(NUMS[i])),
                3: ((n - 1) * 2 + 1, MEMO1[i].hex()), 5: ((n - 1) * 2 + 2, MEMO2[i].hex())}
        for position, value in want.items():
            got = r.get(position)
            if got != value:
                problems.append("record %d field %d: %r, expected %r" % (n, position, got, value))
    print("\n".join(problems))
    return 1 if problems else 0


def downgrade(folder):
    base = os.path.join(folder, "t.")
    with open(base + "DAT", "rb") as f:
        dat = f.read()
    header = bytearray(dat[:127])
    assert header[8] == 4 and header[86] == 0
    record_size, count = struct.unpack_from("<HH", header, 21)
    (records,) = struct.unpack_from("<I", header, 13)
    records -= 1
    definitions = bytearray(dat[127:127 + 768 * count])
    moves = []  # (new offset, old offset, bytes with the null flag)
    at = 9
    for i in range(count):
        d = 768 * i
        kind, sub, physical = definitions[d + 84], definitions[d + 85], definitions[d + 88]
        (offset,) = struct.unpack_from("<H", definitions, d + 90)
        if kind == 6 and sub == 29:
            continue
        old_size = 4 if kind == 3 else physical
        moves.append((offset, at, old_size + 1))
        if kind == 3:
            definitions[d + 88] = 4
        struct.pack_into("<H", definitions, d + 90, at)
        at += old_size + 1
    start = 127 + 768 * count
    out = bytearray()
    for n in range(records):
        r = dat[start + n * record_size:start + (n + 1) * record_size]
        old = bytearray(at)
        old[:9] = r[:9]
        for new_offset, old_offset, size in moves:
            old[old_offset:old_offset + size] = r[new_offset:new_offset + size]
        out.extend(old)
    header[8] = 3
    struct.pack_into("<H", header, 21, at)
    header[116:124] = bytes(8)
    with open(base + "DAT", "wb") as f:
        f.write(bytes(header) + bytes(definitions) + bytes(out))
    for ext in ("IDX", "BLB"):
        if os.path.exists(base + ext):
            with open(base + ext, "r+b") as f:
                f.seek(8)
                f.write(b"\x03")


if __name__ == "__main__":
    args, keys = sys.argv[1:], None
    if args[0] == "--keys":
        keys, args = tablecheck.parse_keys(args[1]), args[2:]
    if args[0] == "write":
        write(int(args[1]), args[2], keys)
    elif args[0] == "downgrade":
        downgrade(args[1])
    else:
        sys.exit(check(int(args[1]), args[2], keys))
