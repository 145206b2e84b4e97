#!/usr/bin/env python3
"""Prints the include graph between the product's folders and exits non-zero
when an edge points the wrong way.

A node is the folder of a source file (app/core and app are two nodes). The
forbidden edges:
  - a library into the window code (app/ outside app/core, forms/);
  - platform/ into anything above it (runtime is the lowest layer; the
    Qt-free GUI vocabulary sits below the Qt GUI layer);
  - tables/lib into tables/engine beyond the engine's base layer;
  - a layer of the table engine (tables/engine/<layer>) into one above it,
    a source file in tables/engine outside its layers, and any cycle between
    folders.

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
# The table engine's layers, bottom first: a layer may include its own and
# lower ones. tables/lib sits between the errors and the rest.
ENGINE = "tables/engine"
ENGINE_RANK = {f"{ENGINE}/{layer}": rank for rank, layer in
               enumerate(("errors", "base", "cache", "files", "table", "cursor", "maintenance"))}


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
    if source_node == "tables/lib" and target_node.startswith(ENGINE) and target_node != f"{ENGINE}/errors":
        return "tables/lib into the engine beyond its errors"
    if source_node in ENGINE_RANK and target_node in ENGINE_RANK \
            and ENGINE_RANK[target_node] > ENGINE_RANK[source_node]:
        return "engine layer into one above it"
    return None


def misplaced(source):
    """Why a source file stands where it may not, or None."""
    node = os.path.dirname(source)
    if node.startswith(ENGINE) and node not in ENGINE_RANK:
        return "an engine source outside the engine's layers"
    return None


def cycles(edges):
    """The cycles between folders: one sorted list of folders per strongly
    connected set of more than one (Tarjan's algorithm)."""
    graph = defaultdict(set)
    for a, b in edges:
        graph[a].add(b)
    index, low, stack, on_stack, found = {}, {}, [], set(), []

    def visit(node):
        index[node] = low[node] = len(index)
        stack.append(node)
        on_stack.add(node)
        for nxt in sorted(graph[node]):
            if nxt not in index:
                visit(nxt)
                low[node] = min(low[node], low[nxt])
            elif nxt in on_stack:
                low[node] = min(low[node], index[nxt])
        if low[node] == index[node]:
            group = []
            while True:
                member = stack.pop()
                on_stack.discard(member)
                group.append(member)
                if member == node:
                    break
            if len(group) > 1:
                found.append(sorted(group))

    for node in sorted(graph):
        if node not in index:
            visit(node)
    return found


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
                           os.path.join(os.path.dirname(__file__), ".."))
    edges = defaultdict(int)
    faults = []
    for source in product_files(root):
        with open(os.path.join(root, source), encoding="latin-1") as f:
            text = f.read()
        source_node = os.path.dirname(source)
        why = misplaced(source)
        if why:
            faults.append(f"{source}: {why}")
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
    for group in cycles(edges):
        faults.append("cycle between " + ", ".join(group))
    for fault in faults:
        print("FORBIDDEN", fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
