#!/usr/bin/env python3
"""Fails when product code outside platform/ includes a POSIX or Linux system
header: the operating system is reached through platform/runtime/ only.
tests/, bench/, fuzz/ and tools/ are exempt.

Usage: check_posix_headers.py [repository root]
"""
import os
import re
import sys

CHECKED = ("textutil", "memo", "app", "family", "tables", "controls", "forms")
SOURCE_EXT = (".h", ".hpp", ".cpp", ".cc")
SYSTEM_HEADER = re.compile(
    r'^\s*#\s*include\s*<((?:unistd|fcntl|termios|spawn|poll|dirent|pwd|grp|netdb|dlfcn|ifaddrs|mntent)\.h'
    r'|(?:sys|net|netinet|arpa|linux)/[^>]+)>', re.M)


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
                           os.path.join(os.path.dirname(__file__), ".."))
    found = []
    for top in CHECKED:
        for folder, dirs, files in os.walk(os.path.join(root, top)):
            dirs.sort()
            for name in sorted(files):
                if not name.endswith(SOURCE_EXT):
                    continue
                path = os.path.join(folder, name)
                with open(path, encoding="latin-1") as f:
                    text = f.read()
                for match in SYSTEM_HEADER.finditer(text):
                    line = text.count("\n", 0, match.start()) + 1
                    found.append(f"{os.path.relpath(path, root)}:{line}: <{match.group(1)}>")
    for entry in found:
        print(entry)
    if found:
        print(f"{len(found)} system header(s) outside platform/: call platform/runtime/ instead")
        return 1
    print("no POSIX or Linux system header outside platform/")
    return 0


if __name__ == "__main__":
    sys.exit(main())
