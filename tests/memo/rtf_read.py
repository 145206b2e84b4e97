#!/usr/bin/env python3
"""An independent RTF reader for the memo's export tests.

Reads an RTF file (which must end in one zero byte, as the memo writes it)
and prints JSON: the colour table as [r, g, b] triples and, per paragraph,
its text and its runs of equal character format.
"""
import json
import sys


def read(data):
    if not data.endswith(b"\x00"):
        raise SystemExit("no terminating zero byte")
    data = data[:-1]
    fmt = {"b": 0, "i": 0, "ul": 0, "f": 0, "fs": 24, "cf": 0, "cb": -1}
    stack = []
    dest = None
    colours, fonts, comp = [], {}, {}
    paragraphs = [[]]
    depth_seen = 0
    i, n = 0, len(data)
    pending_font = None
    while i < n:
        c = data[i]
        if c == ord("{"):
            stack.append((dict(fmt), dest))
            depth_seen += 1
            i += 1
            continue
        if c == ord("}"):
            if not stack:
                raise SystemExit("unbalanced group")
            fmt, dest = stack.pop()
            i += 1
            continue
        if c in (13, 10):
            i += 1
            continue
        if c == ord("\\"):
            i += 1
            if i < n and chr(data[i]).isalpha():
                j = i
                while j < n and chr(data[j]).isalpha():
                    j += 1
                word = data[i:j].decode()
                k = j
                if k < n and (data[k] == ord("-") or chr(data[k]).isdigit()):
                    k += 1
                    while k < n and chr(data[k]).isdigit():
                        k += 1
                param = int(data[j:k]) if k > j else None
                if k < n and data[k] == ord(" "):
                    k += 1
                i = k
                if word in ("fonttbl", "colortbl"):
                    dest = word
                elif dest == "colortbl" and word in ("red", "green", "blue"):
                    comp[word] = param
                elif dest == "fonttbl" and word == "f":
                    pending_font = param
                elif word == "plain":
                    fmt.update({"b": 0, "i": 0, "ul": 0, "f": 0, "fs": 24, "cf": 0, "cb": -1})
                elif word in ("b", "i", "ul"):
                    fmt[word] = 0 if param == 0 else 1
                elif word in ("f", "fs", "cf", "cb"):
                    fmt[word] = param
                elif word == "par":
                    paragraphs.append([])
                continue
            if i < n and data[i] == ord("'"):
                sym = bytes([int(data[i + 1:i + 3], 16)]).decode("cp1252", "replace")
                i += 3
            else:
                sym = chr(data[i])
                i += 1
            if dest is None:
                paragraphs[-1].append((sym, dict(fmt)))
            continue
        ch = chr(c) if c < 128 else bytes([c]).decode("cp1252", "replace")
        i += 1
        if dest == "colortbl":
            if ch == ";":
                colours.append([comp.get("red", 0), comp.get("green", 0), comp.get("blue", 0)])
                comp = {}
            continue
        if dest == "fonttbl":
            if ch == ";":
                pending_font = None
            elif pending_font is not None:
                fonts[pending_font] = fonts.get(pending_font, "") + ch
            continue
        paragraphs[-1].append((ch, dict(fmt)))
    if stack:
        raise SystemExit("unclosed group")
    out = {"colours": colours, "fonts": fonts, "paragraphs": []}
    for para in paragraphs:
        runs = []
        for pos, (ch, f) in enumerate(para):
            if runs and runs[-1]["fmt"] == f:
                runs[-1]["len"] += 1
            else:
                runs.append({"start": pos, "len": 1, "fmt": f})
        out["paragraphs"].append({"text": "".join(ch for ch, _ in para), "runs": runs})
    # The writer puts "\par }" at the end: the last paragraph is empty.
    if out["paragraphs"] and out["paragraphs"][-1]["text"] == "":
        out["paragraphs"].pop()
    return out


def colour(table, index):
    if index is None or index < 0 or index >= len(table):
        return "-"
    r, g, b = table[index]
    return "%02x%02x%02x" % (r, g, b)


if __name__ == "__main__":
    # Line form for the C++ tests: "P <text>" per paragraph, then per run
    # "R start length foreground background b i ul font".
    with open(sys.argv[1], "rb") as fh:
        doc = read(fh.read())
    for para in doc["paragraphs"]:
        print("P " + para["text"])
        for run in para["runs"]:
            f = run["fmt"]
            print("R %d %d %s %s %d %d %d %d" % (run["start"], run["len"], colour(doc["colours"], f["cf"]),
                                              colour(doc["colours"], f["cb"]), f["b"], f["i"], f["ul"], f["f"]))
