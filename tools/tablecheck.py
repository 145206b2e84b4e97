#!/usr/bin/env python3
"""Checks a table's data file (.DAT) and BLOB file (.BLB) against their
documented layouts, sharing no code with the engine.

    tablecheck.py [--keys A1,A2,B1,B2,C1,C2] [--dump] TABLE.DAT

Prints one line per finding, "error: ..." or "warning: ...", and exits with
0 when there is no error, 1 when there is one, 2 when the file cannot be
read or the options are wrong. --keys gives the cipher key pairs of
encrypted tables (description and password; definitions and records; index
and BLOB files), each byte in decimal or 0x hex. --dump also prints the
layout the checker computed and every record's values:

    L <record size> <data start> <records used>
    F <position> <offset> <physical size>
    R <number> <deleted flag> <record ID>
    V <position> <null flag> <value>
    B <position> <reference> <signature> <hex of the BLOB's bytes>

Values: integers in decimal, floats as %.17g, strings and byte fields as hex
(strings up to their terminator).
"""

import os
import re
import struct
import sys

HEADER = 127
DEFINITION = 768
BLOB_HEADER = 512
BLOCK_HEADER = 18

# Bytes a value takes in a record, by data type code; None: the declared size
# (plus one for strings).
FIXED_SIZE = {2: 4, 6: 4, 10: 4, 13: 4, 3: 8, 7: 8, 8: 8, 11: 8, 4: 2, 5: 2, 12: 2, 14: 10}
SIZED_TYPES = (1, 9, 15)


def physical_size(data_type, size):
    if data_type == 1:
        return size + 1
    return FIXED_SIZE.get(data_type, size)


INTEGER_RANGES = {5: (-32768, 32767), 6: (-2147483648, 2147483647), 12: (0, 65535)}


def valid_expression(data_type, text):
    """Whether a default, minimum or maximum text reads as a value of the
    type; only the number types are judged, the rest depend on the table's
    language and pass."""
    text = text.decode("latin-1").strip()
    if data_type in INTEGER_RANGES:
        low, high = INTEGER_RANGES[data_type]
        return re.fullmatch(r"[+-]?[0-9]+", text) is not None and low <= int(text) <= high
    if data_type in (7, 8):
        return re.fullmatch(r"[+-]?([0-9]+[.]?[0-9]*|[.][0-9]+)([eE][+-]?[0-9]+)?", text) is not None
    return True


def is_alpha(byte):
    return (65 <= byte <= 90) or (97 <= byte <= 122) or byte == 95 or 129 <= byte <= 254


def decipher(data, key1, key2):
    out = bytearray(data)
    for i in range(len(out)):
        out[i] ^= key1 ^ key2
        key1 = (key1 + 1) & 0xFF
        key2 = (key2 - 1) & 0xFF
    return bytes(out)


def short_string(block, offset):
    length = block[offset]
    return block[offset + 1:offset + 1 + length]


class Report:
    def __init__(self):
        self.lines = []
        self.errors = 0

    def error(self, text):
        self.lines.append("error: " + text)
        self.errors += 1

    def warning(self, text):
        self.lines.append("warning: " + text)


class Field:
    def __init__(self, position, block):
        self.position = position
        (self.number,) = struct.unpack_from("<H", block, 0)
        self.name = short_string(block, 2)
        self.data_type, self.sub_type, self.size, self.decimals = block[84], block[85], block[86], block[87]
        self.physical_size, self.physical_decimals = block[88], block[89]
        (self.offset,) = struct.unpack_from("<H", block, 90)
        self.minimum = short_string(block, 94)
        self.maximum = short_string(block, 145)
        self.default = short_string(block, 196)
        self.calculated = block[247]
        self.pointer = block[248:252]
        self.reserved = block[253:768]

    def auto_increment(self):
        return self.data_type == 6 and self.sub_type == 29

    def stored(self):
        return not self.auto_increment() and self.calculated == 0

    def label(self):
        return "field %d (%s)" % (self.position, self.name.decode("latin-1"))


def check_fields(fields, report):
    """Checks every definition; answers the record size and each field's
    offset and physical size as the layout rules give them."""
    running = 9
    layout = []
    seen_names = {}
    numbers = {}
    for f in fields:
        name = f.name.strip(b" ")
        if not name:
            report.error("%s: blank name" % f.label())
        else:
            if not is_alpha(name[0]):
                report.error("%s: name does not start with a letter" % f.label())
            if len(f.name) > 30:
                report.error("%s: name longer than 30 characters" % f.label())
            key = name.upper()
            if key in seen_names:
                report.error("%s: same name as field %d" % (f.label(), seen_names[key]))
            seen_names.setdefault(key, f.position)
        if f.number in numbers:
            report.error("%s: same field number as field %d" % (f.label(), numbers[f.number]))
        numbers.setdefault(f.number, f.position)
        if f.number != f.position:
            report.error("%s: field number %d" % (f.label(), f.number))
        if f.data_type == 0:
            report.error("%s: data type 0" % f.label())
        if f.data_type in SIZED_TYPES:
            if f.size > 250:
                report.error("%s: size %d above 250" % (f.label(), f.size))
        elif f.size != 0:
            report.error("%s: size %d on a type without one" % (f.label(), f.size))
        for what, text in (("default", f.default), ("minimum", f.minimum), ("maximum", f.maximum)):
            if text and not valid_expression(f.data_type, text):
                report.error("%s: %s %r is not a value of its type" % (f.label(), what, text.decode("latin-1")))
        if f.data_type != 8 and f.decimals != 0:
            report.error("%s: decimals on a type other than BCD" % f.label())
        size = physical_size(f.data_type, f.size)
        if f.physical_size != size:
            report.error("%s: physical size %d, expected %d" % (f.label(), f.physical_size, size))
        if f.physical_decimals != f.decimals:
            report.error("%s: physical decimals %d, expected %d" % (f.label(), f.physical_decimals, f.decimals))
        offset = 5 if f.auto_increment() else running
        if f.offset != offset:
            report.error("%s: offset %d, expected %d" % (f.label(), f.offset, offset))
        if any(f.pointer):
            report.error("%s: bytes 248-251 are not zero" % f.label())
        if any(f.reserved):
            report.warning("%s: reserved bytes are not zero" % f.label())
        layout.append((offset, size & 0xFF))
        if f.stored():
            running += size + 1
    return running, layout


def value_text(data_type, raw):
    if data_type == 1:
        end = raw.find(b"\0")
        return (raw if end < 0 else raw[:end]).hex()
    if data_type in (2, 6, 10, 13):
        return str(struct.unpack("<i", raw)[0])
    if data_type in (7, 11):
        return "%.17g" % struct.unpack("<d", raw)[0]
    if data_type == 8:
        return str(struct.unpack("<q", raw)[0])
    if data_type == 5:
        return str(struct.unpack("<h", raw)[0])
    if data_type in (4, 12):
        return str(struct.unpack("<H", raw)[0])
    return raw.hex()


class BlobFile:
    """The .BLB file: header, blocks and the chains through them."""

    def __init__(self, path, block_size, keys, report):
        self.report = report
        self.block_size = block_size
        self.keys = keys
        with open(path, "rb") as f:
            self.data = f.read()
        self.owner = {}  # block offset -> what holds it
        self.ok = False
        if len(self.data) < BLOB_HEADER:
            report.error("BLOB file shorter than its 512-byte header")
            return
        header = self.data[:BLOB_HEADER]
        if keys:
            header = decipher(header, *keys)
        self.version = header[8]
        self.free, self.size = struct.unpack_from("<II", header, 9)
        if self.version != 4:
            report.error("BLOB file version %d, expected 4" % self.version)
        if (len(self.data) - BLOB_HEADER) % block_size:
            report.error("BLOB file length %d is not 512 plus whole blocks of %d" % (len(self.data), block_size))
        if self.size != len(self.data):
            report.error("BLOB header file size %d, file length %d" % (self.size, len(self.data)))
        self.ok = True

    def valid(self, offset):
        return BLOB_HEADER <= offset < min(self.size, len(self.data)) and (offset - BLOB_HEADER) % self.block_size == 0

    def block(self, offset):
        raw = self.data[offset:offset + self.block_size]
        head, body = raw[:BLOCK_HEADER], raw[BLOCK_HEADER:]
        if self.keys:
            head, body = decipher(head, *self.keys), decipher(body, *self.keys)
        prev, nxt, used, signature, total = struct.unpack("<IIHII", head)
        return prev, nxt, used, signature, total, body

    def claim(self, offset, holder):
        if offset in self.owner:
            self.report.error("block %d of %s is also in %s" % (offset, holder, self.owner[offset]))
            return False
        self.owner[offset] = holder
        return True

    def read_chain(self, reference, signature, holder):
        """Walks one BLOB's chain; answers its bytes."""
        if not self.valid(reference):
            self.report.error("%s: reference %d is not a block" % (holder, reference))
            return b""
        content = b""
        offset, previous, total = reference, 0, None
        limit = (len(self.data) - BLOB_HEADER) // self.block_size
        for _ in range(limit + 1):
            if not self.claim(offset, holder):
                return content
            prev, nxt, used, sig, length, body = self.block(offset)
            if total is None:
                total = length
            elif length != 0:
                self.report.error("%s: block %d holds a BLOB length" % (holder, offset))
            if sig != signature:
                self.report.error("%s: block %d signature %d, expected %d" % (holder, offset, sig, signature))
            if prev != previous:
                self.report.error("%s: block %d links back to %d, expected %d" % (holder, offset, prev, previous))
            expected = min(self.block_size - BLOCK_HEADER, max(total - len(content), 0))
            if used != expected:
                self.report.error("%s: block %d holds %d bytes, expected %d" % (holder, offset, used, expected))
            content += body[:min(used, len(body))]
            if nxt == 0:
                break
            if not self.valid(nxt):
                self.report.error("%s: block %d links to %d, not a block" % (holder, offset, nxt))
                break
            previous, offset = offset, nxt
        if total is not None and len(content) != total:
            self.report.error("%s: chain holds %d bytes, BLOB length %d" % (holder, len(content), total))
        return content

    def check_free_chain(self):
        offset = self.free
        if offset and not self.valid(offset):
            self.report.error("free block chain starts at %d, not a block" % offset)
            return
        while offset:
            if not self.claim(offset, "the free block chain"):
                return
            nxt = self.block(offset)[1]
            if nxt and not self.valid(nxt):
                self.report.error("free block %d links to %d, not a block" % (offset, nxt))
                return
            offset = nxt

    def check_orphans(self):
        for offset in range(BLOB_HEADER, len(self.data) - self.block_size + 1, self.block_size):
            if offset not in self.owner:
                self.report.warning("block %d is in no BLOB and not in the free chain" % offset)


def parse_keys(text):
    values = [int(v, 0) for v in text.split(",")]
    if len(values) != 6 or any(v < 0 or v > 255 for v in values):
        raise ValueError("--keys takes six bytes")
    return (values[0], values[1]), (values[2], values[3]), (values[4], values[5])


def blob_path(dat_path):
    folder, name = os.path.split(dat_path)
    stem = os.path.splitext(name)[0]
    for candidate in os.listdir(folder or "."):
        c_stem, c_ext = os.path.splitext(candidate)
        if c_stem == stem and c_ext.upper() == ".BLB":
            return os.path.join(folder, candidate)
    return None


def check_table(path, keys, dump, out):
    report = Report()
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < HEADER:
        report.error("file shorter than its 127-byte header")
        return report
    (stamp, block_size, _, version, first_free, next_physical, last_id, record_size, field_count,
     blob_fields) = struct.unpack_from("<IHHBIIIHHH", data, 0)
    encrypted = data[86]
    (engine_stamp,) = struct.unpack_from("<q", data, 116)
    if version != 4:
        report.error("version %d, expected 4" % version)
    if engine_stamp != 21100:
        report.warning("engine stamp %d" % engine_stamp)
    if field_count > 1024:
        report.error("%d fields, at most 1024" % field_count)
        return report
    start = HEADER + DEFINITION * field_count
    if len(data) < start:
        report.error("file ends inside the field definitions")
        return report
    if encrypted and not keys:
        report.error("encrypted table: give the key pairs with --keys")
        return report
    definitions = data[HEADER:start]
    if encrypted:
        length = len(definitions) if engine_stamp != 0 else len(definitions) % 65536
        definitions = decipher(definitions[:length], *keys[1]) + definitions[length:]
        for offset in (35, 87):
            if data[offset] > (50 if offset == 35 else 15):
                report.error("header text at %d longer than its slot" % offset)
    fields = [Field(i + 1, definitions[i * DEFINITION:(i + 1) * DEFINITION]) for i in range(field_count)]
    computed, layout = check_fields(fields, report)
    if record_size != computed:
        report.error("record size %d, the fields make %d" % (record_size, computed))
    blob_count = sum(1 for f in fields if f.data_type == 3)
    if blob_fields != blob_count:
        report.error("BLOB field count %d, the fields hold %d" % (blob_fields, blob_count))
    if blob_count > 64:
        report.error("%d BLOB fields, at most 64" % blob_count)
    if record_size == 0:
        report.error("record size 0")
        return report
    body = len(data) - start
    if body % record_size:
        report.error("records part of %d bytes is not whole records of %d" % (body, record_size))
    used = body // record_size
    if next_physical != used + 1:
        report.error("next physical record %d, the file holds %d records" % (next_physical, used))

    records = []
    for n in range(1, used + 1):
        raw = data[start + (n - 1) * record_size:start + n * record_size]
        if encrypted:
            raw = decipher(raw, *keys[1])
        records.append(raw)
        if raw[0] not in (0, 1):
            report.error("record %d: deleted flag %d" % (n, raw[0]))
        elif raw[0] == 0 and struct.unpack_from("<I", raw, 1)[0] != n:
            report.error("record %d: carries number %d" % (n, struct.unpack_from("<I", raw, 1)[0]))
    seen = set()
    n = first_free
    while n:
        if n > used:
            report.error("free chain names record %d beyond the last" % n)
            break
        if n in seen:
            report.error("free chain returns to record %d" % n)
            break
        seen.add(n)
        if records[n - 1][0] != 1:
            report.error("free chain names record %d, which is in use" % n)
            break
        n = struct.unpack_from("<I", records[n - 1], 1)[0]

    blob = None
    if blob_count:
        bpath = blob_path(path)
        if bpath is None:
            report.error("the table has BLOB fields but no .BLB file")
        else:
            blob = BlobFile(bpath, block_size or 512, keys[2] if encrypted else None, report)
            if not blob.ok:
                blob = None

    if dump:
        out.append("L %d %d %d" % (computed, start, used))
        for f, (offset, size) in zip(fields, layout):
            out.append("F %d %d %d" % (f.position, offset, size))
    for n, raw in enumerate(records, 1):
        if dump:
            out.append("R %d %d %d" % (n, raw[0], struct.unpack_from("<I", raw, 5)[0]))
        if raw[0] != 0 or len(raw) != computed:
            continue
        for f, (offset, size) in zip(fields, layout):
            if not f.stored():
                continue
            flag, value = raw[offset], raw[offset + 1:offset + 1 + size]
            if f.data_type == 3:
                reference, signature = struct.unpack("<iI", value)
                content = b""
                if reference < 0:
                    report.error("record %d %s: negative BLOB reference" % (n, f.label()))
                elif reference and blob:
                    content = blob.read_chain(reference, signature, "record %d %s" % (n, f.label()))
                if dump:
                    out.append("B %d %d %d %s" % (f.position, reference, signature, content.hex()))
            elif dump:
                out.append("V %d %d %s" % (f.position, flag, value_text(f.data_type, value)))
    if blob:
        blob.check_free_chain()
        blob.check_orphans()
    return report


def main(argv):
    keys = None
    dump = False
    args = []
    i = 1
    try:
        while i < len(argv):
            if argv[i] == "--keys":
                keys = parse_keys(argv[i + 1])
                i += 2
            elif argv[i] == "--dump":
                dump = True
                i += 1
            else:
                args.append(argv[i])
                i += 1
        if len(args) != 1:
            raise ValueError("one .DAT file expected")
    except (ValueError, IndexError) as e:
        print("usage: tablecheck.py [--keys A1,A2,B1,B2,C1,C2] [--dump] TABLE.DAT (%s)" % e, file=sys.stderr)
        return 2
    out = []
    try:
        report = check_table(args[0], keys, dump, out)
    except OSError as e:
        print("cannot read: %s" % e, file=sys.stderr)
        return 2
    for line in out + report.lines:
        print(line)
    return 1 if report.errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
