#!/bin/sh
# Writes the settings file a first run of run.sh starts with, unless it is
# there already: the bundled sample registers as the source folder, and a
# folder of its own for saved pages ("pages" beside the sources, made when
# missing). Pages are never proposed for saving among the registers, where
# a page named like a register would be read as one.
#   first_settings.sh <settings file> <source root>
set -eu
INI=$1
ROOT=$2
[ -f "$INI" ] && exit 0
mkdir -p "$ROOT/pages"
# CR LF, as the program writes its own settings.
printf '[Directories]\r\nSearch=%s\r\nSave=%s\r\n' "$ROOT/samples/registers" "$ROOT/pages" > "$INI"
