#!/usr/bin/env python3
"""Tests of tools/include_graph.py on small trees made for each case: a tree
that keeps every rule passes, and each planted include or file that breaks
one fails with its reason."""

import os
import subprocess
import sys
import tempfile
import unittest

CHECKER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "include_graph.py")
LAYERS = ("errors", "base", "cache", "files", "table", "cursor", "maintenance")

# Each layer includes the one below it; tables/lib sits on the errors.
SOUND = {f"tables/engine/{layer}/{layer}.h": [f"tables/engine/{below}/{below}.h"] if below else []
         for below, layer in zip((None,) + LAYERS, LAYERS)}
SOUND["tables/lib/lib.h"] = ["tables/engine/errors/errors.h"]
SOUND["tables/sql/sql.h"] = ["tables/engine/maintenance/maintenance.h", "tables/lib/lib.h"]
SOUND["platform/runtime/runtime.h"] = []
SOUND["app/window.h"] = ["platform/runtime/runtime.h", "tables/sql/sql.h"]

# name, files added to the sound tree (path: includes), text the fault holds
CASES = [
    ("planted upward include between engine layers",
     {"tables/engine/cache/ahead.h": ["tables/engine/cursor/cursor.h"]}, "engine layer into one above it"),
    ("the lowest layer reaching the top",
     {"tables/engine/errors/more.cpp": ["tables/engine/maintenance/maintenance.h"]}, "engine layer into one above it"),
    ("an engine source outside the layers",
     {"tables/engine/loose.cpp": ["tables/engine/files/files.h"]}, "outside the engine's layers"),
    ("tables/lib past the errors",
     {"tables/lib/more.cpp": ["tables/engine/base/base.h"]}, "beyond its errors"),
    ("a cycle between folders no rank orders",
     {"textutil/t.h": ["family/f.h"], "family/f.h": ["textutil/t.h"]}, "cycle between family, textutil"),
    ("a library into the window code",
     {"tables/sql/more.cpp": ["app/window.h"]}, "library into the window code"),
    ("platform into a folder above it",
     {"platform/runtime/more.cpp": ["tables/lib/lib.h"]}, "platform/ into a folder above it"),
]


def make_tree(root, files):
    for path, includes in files.items():
        os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
        with open(os.path.join(root, path), "w") as f:
            f.write("".join(f'#include "{target}"\n' for target in includes))


def check(files):
    with tempfile.TemporaryDirectory() as root:
        make_tree(root, files)
        run = subprocess.run([sys.executable, CHECKER, root], capture_output=True, text=True)
        return run.returncode, run.stdout


class IncludeGraphTest(unittest.TestCase):
    def test_sound_tree_passes(self):
        code, out = check(SOUND)
        self.assertEqual(code, 0, out)
        self.assertNotIn("FORBIDDEN", out)

    def test_each_broken_rule_fails_with_its_reason(self):
        for name, added, reason in CASES:
            with self.subTest(name):
                code, out = check({**SOUND, **added})
                self.assertEqual(code, 1, out)
                faults = [line for line in out.splitlines() if line.startswith("FORBIDDEN")]
                # An upward include closes a cycle too: that is reported as well.
                self.assertTrue(any(reason in fault for fault in faults), out)


if __name__ == "__main__":
    unittest.main()
