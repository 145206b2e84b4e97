#!/usr/bin/env python3
"""Golden definition blocks, built from the documented layouts alone.

Reads lines from the file named on the command line and prints one line of
hex per input line:
    F <name> <field type name> <size>
        the 768-byte field definition: u16 number (0), name as a length
        byte + 30 characters at 2, type at 84, sub type at 85, the size at
        86 (strings, bytes, var-bytes) or the decimals at 87 (BCD)
    I <name> <options: any of p u d c> <field numbers joined by ,>
        the 120-byte index definition: name as a length byte + 30
        characters, key size 0, then descending, case-insensitive, unique,
        compression 0, key field count; 16 per-field descending bytes; 16
        u16 field numbers; the rest 0
Names are hex so that blanks and ';' survive.
"""
import struct
import sys

TYPES = {
    'ftString': (1, 0), 'ftGuid': (1, 0), 'ftFixedChar': (1, 31), 'ftWideString': (1, 32),
    'ftDate': (2, 0),
    'ftBlob': (3, 0), 'ftParadoxOle': (3, 0), 'ftDBaseOle': (3, 0), 'ftOraBlob': (3, 0), 'ftOraClob': (3, 0),
    'ftMemo': (3, 22), 'ftFmtMemo': (3, 24), 'ftGraphic': (3, 26), 'ftTypedBinary': (3, 28),
    'ftBoolean': (4, 0), 'ftSmallint': (5, 0), 'ftInteger': (6, 0), 'ftAutoInc': (6, 29),
    'ftFloat': (7, 0), 'ftCurrency': (7, 21), 'ftBCD': (8, 0), 'ftBytes': (9, 0), 'ftTime': (10, 0),
    'ftDateTime': (11, 0), 'ftWord': (12, 0), 'ftVarBytes': (15, 0), 'ftCursor': (17, 0),
    'ftLargeint': (18, 0), 'ftADT': (20, 0), 'ftArray': (21, 0), 'ftReference': (22, 0), 'ftDataSet': (23, 0),
    'ftUnknown': (0, 0), 'ftVariant': (0, 0), 'ftInterface': (0, 0), 'ftIDispatch': (0, 0),
}


def short(text, width):
    text = text[:width]
    return struct.pack('B', len(text)) + text + b'\0' * (width - len(text))


def field(name, type_name, size):
    data_type, sub_type = TYPES[type_name]
    size_byte = size if type_name in ('ftString', 'ftBytes', 'ftVarBytes') else 0
    decimals = size if type_name == 'ftBCD' else 0
    block = struct.pack('<H', 0) + short(name, 30) + short(b'', 50) + struct.pack('4B', data_type, sub_type,
                                                                                  size_byte, decimals)
    return block + b'\0' * (768 - len(block))


def index(name, options, numbers):
    desc = 1 if 'd' in options else 0
    block = short(name, 30) + struct.pack('<H', 0)
    block += struct.pack('5B', desc, 1 if 'c' in options else 0, 1 if 'u' in options else 0, 0, len(numbers))
    block += bytes([desc]) * 16
    block += struct.pack('<16H', *(numbers + [0] * (16 - len(numbers))))
    return block + b'\0' * (120 - len(block))


for line in open(sys.argv[1]):
    parts = line.split()
    if parts[0] == 'F':
        print(field(bytes.fromhex(parts[1]), parts[2], int(parts[3])).hex())
    else:
        numbers = [int(n) for n in parts[3].split(',')] if parts[3] != '-' else []
        print(index(bytes.fromhex(parts[1]), parts[2], numbers).hex())
