#!/bin/bash
# Runs the stand-in host (kl_host.exe) under Wine against the x86-64 DLL, in a
# private prefix that lives only for this run. The host lists the virtual
# folder of a copy of the DLL with demo settings and demo serial ports (both
# placed by the host itself), with sizes and icons, and prints two descriptors.
set -uo pipefail
tree=${1:?win64 build tree}
root=$(cd "$(dirname "$0")/.." && pwd)
tree=$(realpath "$tree")
dir="$tree/run-wine"
"$root/tools/wine-env.sh" setup "$dir" >/dev/null || exit 1
trap '"$root/tools/wine-env.sh" cleanup "$dir"' EXIT
"$root/tools/wine-env.sh" run "$dir" "$tree/kl_host.exe" "Z:${tree//\//\\}\\kestrelink.dll"
