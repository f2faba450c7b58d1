#!/bin/bash
# make dist: the plugin package that the file manager's plugin installer
# takes (opening the archive in the file manager offers to install it):
#   kestrelink.wfx     the i386 DLL       kestrelink.wfx64  the x86-64 DLL
#   languages/*.ini    the catalogs       pluginst.inf      [plugininstall]
#   readme.txt         how to add the same file as a lister plugin
# The version comes from src/resources/version.h, the file the DLL's version
# record is built from.
#   dist.sh WIN64TREE WIN32TREE OUTDIR   -> OUTDIR/kestrelink-VERSION.zip
set -euo pipefail
win64=$(realpath "${1:?win64 build tree}")
win32=$(realpath "${2:?win32 build tree}")
out=$(realpath -m "${3:?output folder}")
root=$(cd "$(dirname "$0")/.." && pwd)

number() {
  sed -n "s/^#define KL_VERSION_$1 \([0-9][0-9]*\)\$/\1/p" "$root/src/resources/version.h"
}
version="$(number MAJOR).$(number MINOR).$(number PATCH)"
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || {
  echo "dist: no version in src/resources/version.h" >&2
  exit 1
}
for dll in "$win64/kestrelink.dll" "$win32/kestrelink.dll"; do
  [ -f "$dll" ] || { echo "dist: $dll is missing (make win64 win32 first)" >&2; exit 1; }
done

stage="$out/kestrelink-$version"
zip="$out/kestrelink-$version.zip"
rm -rf "$stage" "$zip"
mkdir -p "$stage/languages"
cp "$win32/kestrelink.dll" "$stage/kestrelink.wfx"
cp "$win64/kestrelink.dll" "$stage/kestrelink.wfx64"
cp "$root"/languages/*.ini "$stage/languages/"

crlf() { sed 's/$/\r/'; }
crlf >"$stage/pluginst.inf" <<INF
[plugininstall]
description=Kestrelink $version: COM ports and saved TCP connections as a folder, with a serial and telnet terminal on each
type=wfx
file=kestrelink.wfx
defaultdir=kestrelink
version=$version
INF
crlf >"$stage/readme.txt" <<TXT
Kestrelink $version
==================

A serial and TCP terminal inside Total Commander: your COM ports and a list of
saved TCP connections appear as a folder (Network Neighborhood, "Kestrelink"),
and Enter on an entry opens a terminal.

Installing: open this archive in Total Commander and confirm the installation.
The file system plugin (kestrelink.wfx, kestrelink.wfx64 for 64-bit Total
Commander) goes into the folder it proposes. The settings file kestrelink.ini
is kept beside it, the translations in the languages folder.

F3 and Quick View (Ctrl+Q) on an entry show the terminal inside the lister.
For that, add the same file once more, as a lister plugin:

  1. Configuration > Options > Plugins > Lister plugins (WLX): Configure.
  2. Add, and choose kestrelink.wfx64 (64-bit Total Commander) or
     kestrelink.wfx (32-bit) in the plugin folder; show all files (*.*) in
     the file dialog, since the name does not end in .wlx.
  3. OK. The plugin claims only its own entry files (they start with
     KESTRELINK1); every other file still goes to your other listers.
TXT

# Every file dated from the version header, so the archive of one version is
# the same whoever builds it.
touch -r "$root/src/resources/version.h" "$stage" "$stage"/* "$stage"/languages/*
if command -v zip >/dev/null; then
  (cd "$stage" && zip -q -X -9 -r "$zip" pluginst.inf readme.txt kestrelink.wfx kestrelink.wfx64 languages)
else
  python3 - "$stage" "$zip" <<'PY'
import os, sys, zipfile
stage, target = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as z:
    for name in ["pluginst.inf", "readme.txt", "kestrelink.wfx", "kestrelink.wfx64"]:
        z.write(os.path.join(stage, name), name)
    for name in sorted(os.listdir(os.path.join(stage, "languages"))):
        z.write(os.path.join(stage, "languages", name), "languages/" + name)
PY
fi
echo "dist: $zip"
