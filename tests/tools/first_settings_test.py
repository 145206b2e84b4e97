#!/usr/bin/env python3
"""run.sh's first settings, without starting the program: the settings
file it writes names the sample registers as the source folder and a
folder apart, which exists, for saved pages; a settings file already there
is left as it is; and run.sh writes it beside the program it starts."""
import os
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCRIPT = os.path.join(ROOT, "tools", "first_settings.sh")


def read_ini(path):
    with open(path, "rb") as f:
        data = f.read()
    assert data.endswith(b"\r\n") and b"\n" not in data.replace(b"\r\n", b""), data
    keys = {}
    for line in data.decode().split("\r\n"):
        if "=" in line:
            k, v = line.split("=", 1)
            keys[k] = v
    return keys


def main():
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        root = os.path.join(tmp, "clone with blanks")
        os.makedirs(os.path.join(root, "samples", "registers"))
        ini = os.path.join(tmp, "Quorvane.INI")
        subprocess.run([SCRIPT, ini, root], check=True)
        keys = read_ini(ini)
        search, save = keys.get("Search"), keys.get("Save")
        if search != os.path.join(root, "samples", "registers"):
            failures.append("Search=%r" % search)
        if not save or os.path.realpath(save) == os.path.realpath(search or ""):
            failures.append("Save=%r is the source folder" % save)
        elif os.path.realpath(save).startswith(os.path.realpath(search) + os.sep):
            failures.append("Save=%r lies inside the source folder" % save)
        elif not os.path.isdir(save):
            failures.append("Save folder %r was not made" % save)
        # A settings file of the user's stays as it is.
        with open(ini, "wb") as f:
            f.write(b"[Directories]\r\nSearch=/elsewhere\r\nSave=/mine\r\n")
        subprocess.run([SCRIPT, ini, root], check=True)
        if read_ini(ini) != {"Search": "/elsewhere", "Save": "/mine"}:
            failures.append("an existing settings file was changed")
    with open(os.path.join(ROOT, "run.sh")) as f:
        run = f.read()
    if '"$ROOT/tools/first_settings.sh" "$INI" "$ROOT"' not in run or "Save=" in run:
        failures.append("run.sh does not write its settings through first_settings.sh")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
