#!/bin/bash
# Runs the stand-in host (kl_host.exe) under Wine against the x86-64 DLL, in a
# private prefix that lives only for this run.
set -uo pipefail
tree=${1:?win64 build tree}
root=$(cd "$(dirname "$0")/.." && pwd)
tree=$(realpath "$tree")
dir="$tree/run-wine"
"$root/tools/wine-env.sh" setup "$dir" >/dev/null || exit 1
trap '"$root/tools/wine-env.sh" cleanup "$dir"' EXIT
"$root/tools/wine-env.sh" run "$dir" "$tree/kl_host.exe" "Z:${tree//\//\\}\\kestrelink.dll"
