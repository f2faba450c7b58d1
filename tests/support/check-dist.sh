#!/bin/bash
# The plugin package as the file manager's installer sees it: built with
# tools/dist.sh from both trees, its file list and pluginst.inf checked, the
# DLL architectures checked, and the stand-in host installing from it and
# listing the folder of the installed .wfx64. The host must also refuse
# archives that would write outside the install folder or carry damaged data.
#   check-dist.sh WIN64TREE WIN32TREE WINE_DIR OBJDUMP
set -uo pipefail
win64=$(realpath "${1:?}")
win32=$(realpath -m "${2:?}")
wine_dir=${3:?}
objdump=${4:?}
root=$(cd "$(dirname "$0")/../.." && pwd)
if [ ! -f "$win32/kestrelink.dll" ]; then
  echo "SKIPPED: no i386 DLL in $win32 (make win32, or make test, builds it)"
  exit 77
fi
work="$win64/dist-check"
rm -rf "$work"
mkdir -p "$work"
fail=0
bad() { echo "FAIL: $*"; fail=1; }
host() { "$root/tools/wine-env.sh" run "$wine_dir" "$win64/kl_host.exe" "$@"; }
winpath() { printf 'Z:%s' "${1//\//\\}"; }

"$root/tools/dist.sh" "$win64" "$win32" "$work" || exit 1
zip=$(ls "$work"/kestrelink-*.zip)
version=${zip##*/kestrelink-}
version=${version%.zip}

expected=$(printf '%s\n' kestrelink.wfx kestrelink.wfx64 pluginst.inf readme.txt \
  $(cd "$root" && ls languages/*.ini) | sort)
actual=$(unzip -Z1 "$zip" | grep -v '/$' | sort)
[ "$actual" = "$expected" ] || bad "files in the archive:"$'\n'"$actual"$'\n'"expected:"$'\n'"$expected"

unzip -q -o "$zip" -d "$work/unpacked"
inf="$work/unpacked/pluginst.inf"
head -1 "$inf" | grep -q $'^\[plugininstall\]\r$' || bad "pluginst.inf does not start with [plugininstall] (CR LF)"
key() { sed -n "s/^$1=\(.*\)\r\$/\1/p" "$inf"; }
[ "$(key type)" = wfx ] || bad "type=$(key type)"
[ "$(key file)" = kestrelink.wfx ] || bad "file=$(key file)"
[ "$(key defaultdir)" = kestrelink ] || bad "defaultdir=$(key defaultdir)"
[ "$(key version)" = "$version" ] || bad "version=$(key version), archive says $version"
[ -n "$(key description)" ] || bad "no description"
"$objdump" -f "$work/unpacked/kestrelink.wfx" | grep -q 'file format pei-i386' ||
  bad "kestrelink.wfx is not the i386 DLL"
"$objdump" -f "$work/unpacked/kestrelink.wfx64" | grep -q 'file format pei-x86-64' ||
  bad "kestrelink.wfx64 is not the x86-64 DLL"
grep -q "lister plugin" "$work/unpacked/readme.txt" || bad "the readme says nothing about the lister"

# Reports go through files: a process Wine starts on the host's behalf may
# keep a pipe open long after the host ended.
host --install "$(winpath "$zip")" --into "$(winpath "$work/installed")" --list >"$work/host.out" 2>&1
code=$?
out=$(cat "$work/host.out")
[ $code = 0 ] || bad "host --install exit code $code"
grep -q "install: type=wfx file=kestrelink.wfx version=$version" <<<"$out" || bad "host install report"
grep -q 'installed\\kestrelink.wfx64$' <<<"$out" || bad "host did not load the .wfx64"
grep -q "\[ Manage connections" <<<"$out" || bad "no folder listing from the installed plugin"
cmp -s "$work/installed/kestrelink.wfx64" "$win64/kestrelink.dll" || bad "installed .wfx64 differs"
echo "$out"

# Archives the installer must refuse, leaving nothing behind.
python3 - "$work" <<'PY'
import sys, zipfile
work = sys.argv[1]
with zipfile.ZipFile(f"{work}/escape.zip", "w") as z:
    z.writestr("pluginst.inf", "[plugininstall]\r\nfile=x.wfx\r\n")
    z.writestr("../escaped.txt", "outside")
with zipfile.ZipFile(f"{work}/device.zip", "w") as z:
    z.writestr("pluginst.inf", "[plugininstall]\r\nfile=x.wfx\r\n")
    z.writestr("languages/.. /COM1.txt", "to a serial port")
with zipfile.ZipFile(f"{work}/damaged.zip", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("pluginst.inf", "[plugininstall]\r\nfile=x.wfx\r\n" + "padding " * 200)
data = bytearray(open(f"{work}/damaged.zip", "rb").read())
data[60] ^= 0x55  # inside the compressed data of the only entry
open(f"{work}/damaged.zip", "wb").write(data)
PY
for case in escape:"not a plain file name" device:"not a plain file name" damaged:"is damaged"; do
  name=${case%%:*}
  host --install "$(winpath "$work/$name.zip")" --into "$(winpath "$work/$name")" --list \
    >"$work/$name.out" 2>&1
  code=$?
  out=$(cat "$work/$name.out")
  [ $code = 1 ] || bad "$name.zip: exit code $code"
  grep -q "${case#*:}" <<<"$out" || bad "$name.zip: $out"
  [ ! -e "$work/$name" ] || bad "$name.zip: the install folder was created"
done
[ ! -e "$work/escaped.txt" ] || bad "escape.zip wrote outside the install folder"

[ $fail = 0 ] && echo "package $zip: OK"
exit $fail
