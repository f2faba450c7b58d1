#!/bin/bash
# Builds the icon generator with the host compiler and redraws the library's
# icons into src/resources, with PNG previews (single frames and enlarged
# contact sheets on light and dark backgrounds) under $BUILD/icons.
#   tools/make-icons.sh           redraw and write the icons and previews
#   tools/make-icons.sh --check   only verify the committed icons match the drawing
# BUILD picks the build root as in the Makefile (default: build).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-build}
case "$build" in /*) ;; *) build=$root/$build ;; esac
work=$build/icons
mkdir -p "$work"

# No FMA contraction: the pixels must not depend on the machine's instruction set.
g++ -std=c++17 -O2 -Wall -Wextra -Werror -ffp-contract=off -o "$work/icongen" "$root"/tools/icongen/*.cpp

case "${1:-}" in
--check)
  "$work/icongen" --check "$root/src/resources"
  echo "icons match their drawing"
  ;;
"")
  "$work/icongen" --out "$root/src/resources" --preview "$work"
  echo "icons written to src/resources; previews in $work"
  ;;
*)
  echo "usage: $0 [--check]" >&2; exit 2 ;;
esac
