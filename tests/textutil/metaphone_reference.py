#!/usr/bin/env python3
"""Reference Metaphone keys for the textutil tests.

Reads names (Windows-1252 bytes, one per line) from the file named by the
first argument and prints "<key>|<count>" per name: the 8-character key (or
empty) for a limit of 8 letters, and the number of key letters counted.
Written from the rule table, independently of the C++ code.
"""
import sys

VOWELS = "AEIOU"


def metaphone(name: bytes):
    if len(name) < 2:
        return "", 0
    word = [chr(b).upper() if ord("a") <= b <= ord("z") else chr(b) for b in name]
    word = [c for c in word if "A" <= c <= "Z"]
    if len(word) < 2:
        return "", 0
    pair = word[0] + word[1]
    if word[0] == "Y":
        word[0] = "I"
    if word[0] == "X":
        word[0] = "S"
    elif pair in ("WH", "PN", "AE", "KN", "GN", "WR"):
        if pair == "WH":
            word[1] = "W"
        word = word[1:]
    if len(word) >= 2 and word[0] == "C" and word[1] == "H":
        word = ["K"] + word[2:]

    key = []
    count = 0

    def add(letter):
        nonlocal count
        count += 1
        if count <= 8:
            key.append(letter)

    if word[0] in VOWELS:
        add(word[0])
        word = word[1:]

    n = len(word)
    at = lambda k: word[k] if 0 <= k < n else ""
    i = 0
    while i < n and count < 8:
        if i > 0 and word[i - 1] != "C" and word[i - 1] == word[i]:
            i += 1
            if i >= n:
                break
        c, prev, n1, n2 = word[i], at(i - 1), at(i + 1), at(i + 2)
        if c in VOWELS:
            pass
        elif c == "B":
            if not (i == n - 1 or prev == "M"):
                add("B")
        elif c == "C":
            if n1 == "H" or (n1 == "I" and n2 == "A"):
                add("X")
            elif n1 in ("E", "I", "Y") and prev != "S":
                add("S")
            else:
                add("K")
        elif c == "D":
            add("J" if n1 == "G" and n2 in ("E", "I", "Y") else "T")
        elif c in "FLMNR":
            add(c)
        elif c == "G":
            if n1 == "H" and i + 2 < n:
                pass
            elif n1 == "N" and n2 == "E":
                pass
            elif prev == "D" and n1 in ("E", "I", "Y"):
                pass
            elif n1 in ("E", "I", "Y") and prev != "G":
                add("J")
            else:
                add("K")
        elif c == "H":
            if prev in tuple(VOWELS) and n1 in tuple(VOWELS):
                pass
            elif prev in ("C", "G", "P", "S", "T"):
                pass
            else:
                add("H")
        elif c == "J":
            if not (i == n - 2 and n1 == "E"):
                add("J")
        elif c == "K":
            if prev != "C":
                add("K")
        elif c == "P":
            add("F" if n1 == "H" else "P")
        elif c == "Q":
            add("K")
        elif c == "S":
            add("X" if n1 == "H" or (n1 == "I" and n2 in ("O", "A")) else "S")
        elif c == "T":
            if n1 == "I" and n2 in ("O", "A"):
                add("X")
            elif not (n1 == "C" and n2 == "H"):
                add("T")
        elif c == "V":
            add("F")
        elif c == "W":
            if i == 0 or n1 in tuple(VOWELS):
                add("W")
        elif c == "X":
            add("K")
            add("S")
        elif c == "Y":
            if n1 in tuple(VOWELS):
                add("Y")
        elif c == "Z":
            add("S")
        i += 1
    return "".join(key).ljust(8), count


def main():
    for line in open(sys.argv[1], "rb").read().split(b"\n")[:-1]:
        key, count = metaphone(line)
        print(f"{key}|{count}")


if __name__ == "__main__":
    main()
