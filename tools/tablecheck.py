#!/usr/bin/env python3
"""Checks a table's data file (.DAT), BLOB file (.BLB) and index file (.IDX)
against their documented layouts, sharing no code with the engine.

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
    I <index slot> <keys in its tree>

Records: deleted flags, live records' numbers, the free chain, every live
record's BLOB chains, and no BLOB reference left in a deleted record.

The index file, when there is one: header and definitions; every tree level
by level (root type, all leaves at one depth, each internal entry's key and
count equal to its child's first key and key count, sibling links both ways,
keys strictly increasing under language 0 and in the system index,
uncompressed pages other than the root at least half full); every free
chain; every page in exactly one tree or free chain; and each tree's keys
against the keys built from the records.

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


INDEX_HEADER = 4096
PAGE = 4096
PAGE_DATA = 4083
SYSTEM_SLOT = 31
# The Windows-1252 upper-case map of language 0: a-z, the accented small
# letters except the division sign, and the three small letters of 0x9A,
# 0x9C, 0x9E and 0xFF whose capitals sit elsewhere.
UPPER_1252 = bytes(
    (b - 32 if 97 <= b <= 122 or (224 <= b <= 254 and b != 247) else
     {0x9A: 0x8A, 0x9C: 0x8C, 0x9E: 0x8E, 0xFF: 0x9F}.get(b, b)) for b in range(256))


class IndexDefinition:
    def __init__(self, slot, block):
        self.slot = slot
        self.name = short_string(block, 0)
        (self.key_size,) = struct.unpack_from("<H", block, 31)
        self.descending, self.case_insensitive, self.unique, self.compression, self.field_count = block[33:38]
        self.field_descending = block[38:54]
        self.fields = struct.unpack_from("<16H", block, 54)
        self.root, self.free = struct.unpack_from("<II", block, 86)

    def label(self):
        if self.slot == SYSTEM_SLOT:
            return "system index"
        return "index %d (%s)" % (self.slot, self.name.decode("latin-1") or "primary")


def decode_page(raw, key_size, unique, compression):
    """One page's header and entries: (type, left, right, data size,
    [(key, value, count)]); raises ValueError when the entries cannot be
    decoded."""
    page_type, count, left, right, data_size = struct.unpack_from("<BHIIH", raw, 0)
    if page_type > 3:
        raise ValueError("page type %d" % page_type)
    data = raw[13:PAGE]
    entries = []
    k = key_size
    if page_type in (0, 1):
        size = k + 8
        if count * size > PAGE_DATA:
            raise ValueError("%d entries do not fit" % count)
        for i in range(count):
            e = data[i * size:(i + 1) * size]
            value, sub = struct.unpack_from("<II", e, k)
            entries.append((e[:k], value, sub))
        return page_type, left, right, data_size, entries
    if compression == 0:
        size = k + 4
        if count * size > PAGE_DATA:
            raise ValueError("%d entries do not fit" % count)
        for i in range(count):
            e = data[i * size:(i + 1) * size]
            entries.append((e[:k], struct.unpack_from("<I", e, k)[0], 1))
        return page_type, left, right, data_size, entries
    if data_size > PAGE_DATA:
        raise ValueError("entry data of %d bytes" % data_size)
    pos = 0
    previous = b""

    def take(n):
        nonlocal pos
        if n < 0 or pos + n > data_size:
            raise ValueError("entry data runs past its %d bytes" % data_size)
        pos += n
        return data[pos - n:pos]

    for i in range(count):
        if compression == 3:
            lead, trail = take(1)[0], take(1)[0]
        else:
            (n,) = struct.unpack("<H", take(2))
            lead, trail = (n, 0) if compression == 1 else (0, n)
        if lead > k or (i == 0 and lead):
            raise ValueError("entry %d shares %d leading bytes" % (i + 1, lead))
        head = previous[:lead]
        if not unique and compression != 1 and k - lead > 4:
            key = head + take(k - 4 - lead - trail) + bytes(trail) + take(4)
        else:
            if not unique and trail:
                raise ValueError("entry %d drops record ID bytes" % (i + 1))
            key = head + take(k - lead - trail) + bytes(trail)
        (value,) = struct.unpack("<I", take(4))
        entries.append((key, value, 1))
        previous = key
    if pos != data_size:
        raise ValueError("entry data of %d bytes, entries take %d" % (data_size, pos))
    return page_type, left, right, data_size, entries


def key_bytes(field, raw, case_insensitive):
    """The key bytes of one stored value, written from the documented
    encodings."""
    t, size = field.data_type, field.physical_size
    if t == 1:
        end = raw.find(b"\0")
        text = raw[:size - 1] if end < 0 else raw[:min(end, size - 1)]
        if case_insensitive:
            text = text.translate(UPPER_1252)
        return text + bytes(size - len(text))
    if t in (2, 6, 10):
        return struct.pack(">I", struct.unpack("<I", raw[:4])[0] ^ 0x80000000)
    if t in (4, 12):
        return struct.pack(">H", struct.unpack("<H", raw[:2])[0])
    if t == 5:
        return struct.pack(">H", struct.unpack("<H", raw[:2])[0] ^ 0x8000)
    if t in (7, 11):
        (bits,) = struct.unpack("<Q", raw[:8])
        value = struct.unpack("<d", raw[:8])[0]
        if value != value or value < 0:
            bits ^= 0xFFFFFFFFFFFFFFFF
        else:
            bits |= 1 << 63
        return struct.pack(">Q", bits)
    if t == 8:
        return struct.pack(">Q", struct.unpack("<Q", raw[:8])[0] ^ (1 << 63))
    return raw[:size]


def record_id_bytes(record):
    return struct.pack(">I", struct.unpack_from("<I", record, 5)[0] ^ 0x80000000)


def index_key(definition, fields, layout, record):
    key = b""
    for number in definition.fields[:definition.field_count]:
        f = fields[number - 1]
        offset, size = layout[number - 1]
        if f.auto_increment():
            key += b"\1" + record_id_bytes(record)
        elif record[offset] == 0:
            key += bytes(size + 1)
        else:
            key += bytes([record[offset]]) + key_bytes(f, record[offset + 1:offset + 1 + size],
                                                     definition.case_insensitive)
    if not definition.unique:
        key += record_id_bytes(record)
    return key


class IndexFile:
    """The .IDX file: header, definitions, every tree and free chain."""

    def __init__(self, path, keys, report):
        self.report = report
        self.keys = keys
        with open(path, "rb") as f:
            self.data = f.read()
        self.owner = {}
        self.ok = False
        if len(self.data) < INDEX_HEADER:
            report.error("index file shorter than its 4096-byte header")
            return
        header = self.data[:INDEX_HEADER]
        if keys:
            header = decipher(header, *keys)
        self.version = header[8]
        (self.size,) = struct.unpack_from("<I", header, 9)
        self.count = header[13]
        (self.records,) = struct.unpack_from("<I", header, 3974)
        self.no_primary = header[3978]
        self.slots = [IndexDefinition(i, header[14 + 120 * i:134 + 120 * i]) for i in range(32)]
        if self.version != 4:
            report.error("index file version %d, expected 4" % self.version)
        if len(self.data) % PAGE:
            report.error("index file length %d is not whole pages" % len(self.data))
        if self.size != len(self.data):
            report.error("index header file size %d, file length %d" % (self.size, len(self.data)))
        if self.count > 30:
            report.error("%d secondary indexes, at most 30" % self.count)
            return
        system = self.slots[SYSTEM_SLOT]
        if system.name != b"Sys Deleted" or system.key_size != 5 or system.compression or system.field_count:
            report.error("slot 31 is not the system index")
        self.ok = True

    def active(self):
        slots = [] if self.no_primary else [0]
        return slots + list(range(1, self.count + 1)) + [SYSTEM_SLOT]

    def valid(self, offset):
        return INDEX_HEADER <= offset < min(self.size, len(self.data)) and offset % PAGE == 0

    def page(self, offset, d):
        raw = self.data[offset:offset + PAGE]
        if self.keys:
            raw = decipher(raw, *self.keys)
        return decode_page(raw, d.key_size, d.unique, d.compression)

    def claim(self, offset, holder):
        if offset in self.owner:
            self.report.error("page %d of %s is also in %s" % (offset, holder, self.owner[offset]))
            return False
        self.owner[offset] = holder
        return True

    def check_definitions(self, fields):
        names = {}
        for s in self.active():
            d = self.slots[s]
            if s == SYSTEM_SLOT:
                continue
            name = d.name.strip(b" ")
            if s == 0 and name:
                self.report.error("the primary index has a name")
            if s > 0:
                if not name or not is_alpha(name.upper()[0]):
                    self.report.error("%s: name does not start with a letter" % d.label())
                if name.upper() in names:
                    self.report.error("%s: same name as index %d" % (d.label(), names[name.upper()]))
                names.setdefault(name.upper(), s)
            if s == 0 and d.unique != 1:
                self.report.error("the primary index is not unique")
            if d.field_count > 16 or d.compression > 3:
                self.report.error("%s: %d key fields, compression %d" % (d.label(), d.field_count, d.compression))
                return False
            size = 0
            for number in d.fields[:d.field_count]:
                if not 1 <= number <= len(fields) or fields[number - 1].data_type == 3:
                    self.report.error("%s: key field %d is not a field that can be keyed" % (d.label(), number))
                    return False
                size += fields[number - 1].physical_size + 1
            expected = size + (0 if d.unique else 4)
            if size == 0 or size > 524 or d.key_size != expected:
                self.report.error("%s: key size %d, the fields make %d" % (d.label(), d.key_size, expected))
                return False
        return True

    def order(self, d, language):
        """A function comparing two keys by the index's order, or None when
        the order depends on a collation table."""
        if d.slot == SYSTEM_SLOT:
            return lambda a, b: (a > b) - (a < b)
        if language != 0:
            return None
        sign = -1 if d.descending else 1
        return lambda a, b: sign * ((a > b) - (a < b))

    def check_tree(self, d, language):
        """Walks one tree level by level; answers its (key, record) entries
        in leaf order."""
        label = d.label()
        if d.root == 0:
            return []
        if not self.valid(d.root):
            self.report.error("%s: root %d is not a page" % (label, d.root))
            return []
        level = [(d.root, None)]  # (page, (parent key, parent count) expected)
        depth = 0
        found = []
        while level:
            pages = []
            for offset, expected in level:
                if not self.claim(offset, label):
                    return found
                try:
                    page_type, left, right, data_size, entries = self.page(offset, d)
                except ValueError as e:
                    self.report.error("%s: page %d: %s" % (label, offset, e))
                    return found
                pages.append((offset, page_type, left, right, entries, expected))
            types = {p[1] for p in pages}
            leaf = types <= {2, 3}
            want = ({3} if leaf else {0}) if depth == 0 else ({2} if leaf else {1})
            if types != want:
                self.report.error("%s: depth %d holds page types %s, expected %s (leaves at one depth)" %
                                  (label, depth, sorted(types), sorted(want)))
                return found
            children = []
            for i, (offset, page_type, left, right, entries, expected) in enumerate(pages):
                want_left = pages[i - 1][0] if i > 0 else 0
                want_right = pages[i + 1][0] if i + 1 < len(pages) else 0
                if left != want_left or right != want_right:
                    self.report.error("%s: page %d links %d and %d, expected %d and %d" %
                                      (label, offset, left, right, want_left, want_right))
                if not entries:
                    self.report.error("%s: page %d is empty" % (label, offset))
                    continue
                total = len(entries) if leaf else sum(e[2] for e in entries)
                if expected is not None and (expected[0] != entries[0][0] or expected[1] != total):
                    self.report.error("%s: page %d begins with another key or holds %d keys, its parent says %d" %
                                      (label, offset, total, expected[1]))
                if depth > 0 and not (leaf and d.compression):
                    most = PAGE_DATA // (d.key_size + (6 if leaf else 10))
                    if len(entries) < most // 2:
                        self.report.error("%s: page %d holds %d entries, fewer than half of %d" %
                                          (label, offset, len(entries), most))
                if leaf:
                    found.extend((k, v) for k, v, _ in entries)
                else:
                    for k, v, sub in entries:
                        if not self.valid(v):
                            self.report.error("%s: page %d links to child %d, not a page" % (label, offset, v))
                            return found
                        children.append((v, (k, sub)))
            level = children
            depth += 1
        compare = self.order(d, language)
        if compare:
            for i in range(1, len(found)):
                if compare(found[i - 1][0], found[i][0]) >= 0:
                    self.report.error("%s: key %d is not above key %d" % (label, i + 1, i))
                    break
        return found

    def check_free_chain(self, d):
        offset = d.free
        while offset:
            if not self.valid(offset):
                self.report.error("%s: free chain links to %d, not a page" % (d.label(), offset))
                return
            if not self.claim(offset, "the free chain of " + d.label()):
                return
            raw = self.data[offset:offset + PAGE]
            if self.keys:
                raw = decipher(raw, *self.keys)
            offset = struct.unpack_from("<I", raw, 7)[0]

    def check(self, fields, layout, records, language, dump, out):
        if not self.check_definitions(fields):
            return
        live = sum(1 for r in records if r[0] == 0)
        if self.records != live:
            self.report.error("index header counts %d records, the data file holds %d" % (self.records, live))
        for s in range(32):
            d = self.slots[s]
            self.check_free_chain(d)
            if s in self.active():
                entries = self.check_tree(d, language)
                if dump:
                    out.append("I %d %d" % (s, len(entries)))
                if s == SYSTEM_SLOT:
                    if not entries:
                        continue
                    wanted = sorted((bytes([r[0]]) + record_id_bytes(r), n) for n, r in enumerate(records, 1))
                else:
                    wanted = sorted((index_key(d, fields, layout, r), n)
                                    for n, r in enumerate(records, 1) if r[0] == 0)
                got = sorted(entries)
                if language != 0 and d.case_insensitive and s != SYSTEM_SLOT:
                    # Upper case comes from the language's collation table.
                    got, wanted = sorted(v for _, v in got), sorted(v for _, v in wanted)
                if got != wanted:
                    self.report.error("%s: holds %d keys, the records make %d, or they differ" %
                                      (d.label(), len(got), len(wanted)))
            elif d.root:
                self.report.error("slot %d is not in use but has a root" % s)
        for offset in range(INDEX_HEADER, len(self.data) - PAGE + 1, PAGE):
            if offset not in self.owner:
                self.report.error("page %d is in no tree and no free chain" % offset)


def parse_keys(text):
    values = [int(v, 0) for v in text.split(",")]
    if len(values) != 6 or any(v < 0 or v > 255 for v in values):
        raise ValueError("--keys takes six bytes")
    return (values[0], values[1]), (values[2], values[3]), (values[4], values[5])


def sibling_path(dat_path, extension):
    folder, name = os.path.split(dat_path)
    stem = os.path.splitext(name)[0]
    for candidate in os.listdir(folder or "."):
        c_stem, c_ext = os.path.splitext(candidate)
        if c_stem == stem and c_ext.upper() == extension:
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
        bpath = sibling_path(path, ".BLB")
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
        if raw[0] == 1 and len(raw) == computed:
            # A deleted record's BLOB chains were freed: a reference left
            # behind names blocks that later BLOBs may own.
            for f, (offset, size) in zip(fields, layout):
                if f.stored() and f.data_type == 3 and struct.unpack_from("<i", raw, offset + 1)[0] != 0:
                    report.error("deleted record %d %s: holds BLOB reference %d"
                                 % (n, f.label(), struct.unpack_from("<i", raw, offset + 1)[0]))
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
    ipath = sibling_path(path, ".IDX")
    # A table whose index side has no pages and no header yet keeps an empty
    # .IDX beside its data file.
    if ipath and os.path.getsize(ipath) > 0:
        (language,) = struct.unpack_from("<H", data, 103)
        index = IndexFile(ipath, keys[2] if encrypted else None, report)
        if index.ok:
            index.check(fields, layout, records, language, dump, out)
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
