#!/usr/bin/env python3
"""Reads the HTML that `unrtf --html` writes and prints the body's text in
pieces of equal colours, one per line: "[text] foreground/background",
with "|" for each line break. <font color=...> sets the text colour and
<span style="background:..."> the background of what they enclose.
"""
import html.parser
import re
import sys


class Cells(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.stack = [("", "")]
        self.kinds = []
        self.body = False
        self.pieces = []  # [text, colours]

    def handle_starttag(self, tag, attrs):
        if tag == "body":
            self.body = True
        elif tag == "br":
            self.pieces.append(["|", None])
        elif tag in ("font", "span"):
            fore, back = self.stack[-1]
            for name, value in attrs:
                if tag == "font" and name == "color":
                    fore = value
                if tag == "span" and name == "style":
                    m = re.search(r"background:\s*(#[0-9a-fA-F]{6})", value)
                    if m:
                        back = m.group(1)
            self.stack.append((fore, back))

    def handle_endtag(self, tag):
        if tag == "body":
            self.body = False
        elif tag in ("font", "span") and len(self.stack) > 1:
            self.stack.pop()

    def handle_data(self, data):
        if not self.body:
            return
        data = data.replace("\n", "")
        if not data:
            return
        colours = "%s/%s" % self.stack[-1]
        if self.pieces and self.pieces[-1][1] == colours:
            self.pieces[-1][0] += data
        else:
            self.pieces.append([data, colours])


if __name__ == "__main__":
    parser = Cells()
    parser.feed(sys.stdin.buffer.read().decode("utf-8"))
    parser.close()
    out = sys.stdout.buffer
    for text, colours in parser.pieces:
        line = "|" if colours is None else "[%s] %s" % (text, colours)
        out.write(line.encode("utf-8") + b"\n")
