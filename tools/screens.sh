#!/bin/bash
# make screens: runs every screens_*.exe of a Windows build tree under Wine
# on an Xvfb display, once at 96 DPI and once at 144 DPI (each in a fresh
# private prefix), and turns the pictures they save into PNG files.
#   screens.sh TREE OUTDIR
set -uo pipefail
tree=$(realpath "${1:?windows build tree}")
out=$(realpath -m "${2:?output folder}")
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$out"
rm -f "$out"/*.bmp
status=0
for dpi in 96 144; do
  dir="$tree/screens-wine-$dpi"
  "$root/tools/wine-env.sh" setup "$dir" "$dpi" >/dev/null || exit 1
  for exe in "$tree"/screens_*.exe; do
    [ -e "$exe" ] || continue
    echo "screens: $(basename "$exe") at $dpi DPI"
    KL_SCREENS_DIR="$out" KL_SCREENS_TAG="$dpi" KL_DLL="$tree/kestrelink.dll" \
      KL_SOURCE_DIR="$root" "$root/tools/wine-env.sh" run "$dir" "$exe" || status=1
  done
  "$root/tools/wine-env.sh" cleanup "$dir"
done
n=0
for bmp in "$out"/*.bmp; do
  [ -e "$bmp" ] || continue
  convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp" && n=$((n + 1))
done
echo "screens: $n pictures in $out"
exit $status
