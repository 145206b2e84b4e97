#!/usr/bin/env python3
"""Prints the include graph between the product's folders and exits non-zero
when an edge points the wrong way.

A node is the folder of a source file (app/core and app are two nodes). The
forbidden edges:
  - a library into the window code (app/ outside app/core, forms/);
  - platform/ into anything above it (runtime is the lowest layer; the
    Qt-free GUI vocabulary sits below the Qt GUI layer);
  - tables/lib into tables/engine beyond the engine's error library.

Usage: include_graph.py [repository root]
"""
import os
import re
import sys
from collections import defaultdict

PRODUCT = ("platform", "textutil", "memo", "app", "family", "tables", "controls", "forms")
SOURCE_EXT = (".h", ".hpp", ".cpp", ".cc")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)

WINDOW = {"app", "forms"}
# Layers inside platform/: a folder may include its own layer and lower ones.
PLATFORM_RANK = {"platform/runtime": 0, "platform/dataset": 1, "platform/sound": 1, "platform/gui/base": 1,
                 "platform/gui": 2}
# What tables/lib may include of tables/engine: the headers of qv_engine_errors.
ENGINE_ERRORS_HEADERS = {"tables/engine/errors.h", "tables/engine/engine_error.h"}


def product_files(root):
    for top in PRODUCT:
        for folder, dirs, files in os.walk(os.path.join(root, top)):
            dirs[:] = sorted(d for d in dirs if d not in ("fuzz",))
            for name in sorted(files):
                if name.endswith(SOURCE_EXT):
                    yield os.path.relpath(os.path.join(folder, name), root)


def resolve(root, source, target):
    """The repository path an include names, or None for a header outside it."""
    for candidate in (target, os.path.join(os.path.dirname(source), target)):
        path = os.path.normpath(candidate)
        if os.path.isfile(os.path.join(root, path)):
            return path
    return None


def platform_layer(node):
    best = None
    for prefix in PLATFORM_RANK:
        if node == prefix or node.startswith(prefix + "/"):
            if best is None or len(prefix) > len(best):
                best = prefix
    return best


def forbidden(source_node, target_node, target_path):
    """Why the edge is forbidden, or None."""
    if source_node not in WINDOW and target_node in WINDOW:
        return "library into the window code"
    if source_node.startswith("platform"):
        if not target_node.startswith("platform"):
            return "platform/ into a folder above it"
        src, dst = platform_layer(source_node), platform_layer(target_node)
        if src and dst and src != dst and PLATFORM_RANK[dst] >= PLATFORM_RANK[src]:
            return "platform layer into one above it"
    if source_node == "tables/lib" and target_node == "tables/engine" \
            and target_path not in ENGINE_ERRORS_HEADERS:
        return "tables/lib into the engine beyond its error library"
    return None


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
                           os.path.join(os.path.dirname(__file__), ".."))
    edges = defaultdict(int)
    faults = []
    for source in product_files(root):
        with open(os.path.join(root, source), encoding="latin-1") as f:
            text = f.read()
        source_node = os.path.dirname(source)
        for target in INCLUDE.findall(text):
            path = resolve(root, source, target)
            if path is None:
                continue
            target_node = os.path.dirname(path)
            if target_node == source_node or not target_node.startswith(PRODUCT):
                continue
            edges[(source_node, target_node)] += 1
            why = forbidden(source_node, target_node, path)
            if why:
                faults.append(f"{source} includes {path}: {why}")
    for (a, b), count in sorted(edges.items()):
        print(f"{a:24} -> {b:24} {count:4} includes")
    for fault in faults:
        print("FORBIDDEN", fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
