#!/usr/bin/env python3
"""Writes the reference tables that the text utility tests compare against.

Every value here comes from Python's standard library (base64, binascii,
zlib, decimal, datetime) or from coreutils' base64, never from the code
under test. Run from this folder: python3 make_reference.py
"""
import base64
import binascii
import datetime
import decimal
import random
import subprocess
import zlib

rng = random.Random(20240611)


def random_bytes(n):
    return bytes(rng.randrange(256) for _ in range(n))


def write_codecs():
    lengths = list(range(0, 48)) + [100, 255, 256, 257, 1000, 4099]
    with open("base64.txt", "w") as out:
        out.write("# hex(data) base64(data); checked against coreutils base64 -w0\n")
        for n in lengths:
            data = random_bytes(n)
            py = base64.b64encode(data).decode()
            core = subprocess.run(["base64", "-w0"], input=data, capture_output=True, check=True).stdout.decode()
            assert py == core, (py, core)
            back = subprocess.run(["base64", "-d"], input=core.encode(), capture_output=True, check=True).stdout
            assert back == data
            out.write(f"{data.hex() or '-'} {py or '-'}\n")
    with open("uu.txt", "w") as out:
        out.write("# hex(data, length a multiple of 3) uu body (binascii.b2a_uu per 45 bytes, no length or newline)\n")
        for n in list(range(0, 60, 3)) + [90, 300]:
            data = random_bytes(n)
            body = "".join(binascii.b2a_uu(data[i:i + 45]).decode()[1:-1] for i in range(0, n, 45))
            out.write(f"{data.hex() or '-'} {body.replace(' ', '~') or '-'}\n")


def write_crc():
    with open("crc.txt", "w") as out:
        out.write("# hex(data) zlib.crc32 binascii.crc_hqx(data, 0)\n")
        for n in list(range(0, 20)) + [64, 255, 1000, 5000]:
            data = random_bytes(n)
            out.write(f"{data.hex() or '-'} {zlib.crc32(data):08x} {binascii.crc_hqx(data, 0):04x}\n")


def random_number(max_digits):
    n = rng.randrange(1, max_digits + 1)
    digits = str(rng.randrange(1, 10)) + "".join(str(rng.randrange(10)) for _ in range(n - 1))
    if rng.random() < 0.1:
        digits = "1" + "0" * (n - 1)
    if rng.random() < 0.1:
        digits = "9" * n
    return ("-" if rng.random() < 0.5 else "") + digits


def write_decimal():
    decimal.getcontext().prec = 1000
    D = decimal.Decimal
    with open("decimal.txt", "w") as out:
        out.write("# a b a+b a-b a*b a//b a%b (truncating, remainder has a's sign) sign(a-b) hex(a)\n")
        for i in range(600):
            a = random_number(40 if i % 3 else 6)
            b = random_number(40 if i % 2 else 3)
            if rng.random() < 0.05:
                b = a
            x, y = D(a), D(b)
            q, r = divmod(x, y)
            cmp = (x > y) - (x < y)
            h = format(abs(int(a)), "X")
            if int(a) < 0:
                h = "-" + h
            out.write(f"{a} {b} {x + y} {x - y} {x * y} {q} {r} {cmp} {h}\n")


def write_calendar():
    with open("easter.txt", "w") as out:
        out.write("# year month day of Easter Sunday (anonymous Gregorian algorithm)\n")
        for y in range(1900, 2100):
            a, b, c = y % 19, y // 100, y % 100
            d, e = b // 4, b % 4
            f = (b + 8) // 25
            g = (b - f + 1) // 3
            h = (19 * a + b - d - g + 15) % 30
            i, k = c // 4, c % 4
            l = (32 + 2 * e + 2 * i - h - k) % 7
            m = (a + 11 * h + 22 * l) // 451
            month = (h + l - 7 * m + 114) // 31
            day = (h + l - 7 * m + 114) % 31 + 1
            out.write(f"{y} {month} {day}\n")
    with open("isoweek.txt", "w") as out:
        out.write("# year, then for each day of the year date.isocalendar()'s week in two digits\n")
        for y in range(1900, 2100):
            day = datetime.date(y, 1, 1)
            weeks = []
            while day.year == y:
                weeks.append(f"{day.isocalendar()[1]:02d}")
                day += datetime.timedelta(days=1)
            out.write(f"{y} {''.join(weeks)}\n")


def random_expression(depth=0):
    kind = rng.random()
    if depth > 3 or kind < 0.3:
        n = rng.choice([str(rng.randrange(0, 100)), f"{rng.randrange(0, 100)}.{rng.randrange(0, 100):02d}"])
        if rng.random() < 0.15:
            n = f"{rng.randrange(1, 9)}^{rng.randrange(0, 4)}"
        return n
    if kind < 0.4:
        inner = random_expression(depth + 1)
        if "^" in inner and not inner.startswith("("):
            inner = "(" + inner + ")"  # CalcStr's sign binds tighter than "^"
        return "-" + inner
    if kind < 0.55:
        return "(" + random_expression(depth + 1) + ")"
    op = rng.choice("+-*/")
    return random_expression(depth + 1) + op + random_expression(depth + 1)


def write_calculator():
    with open("calculator.txt", "w") as out:
        out.write("# value (Python float evaluation, ^ as **) and the expression\n")
        written = 0
        while written < 400:
            e = random_expression()
            try:
                value = eval(e.replace("^", "**"))
            except ZeroDivisionError:
                continue
            out.write(f"{value!r} {e}\n")
            written += 1


write_codecs()
write_crc()
write_decimal()
write_calendar()
write_calculator()
