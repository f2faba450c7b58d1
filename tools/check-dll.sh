#!/bin/bash
# Checks a built plugin DLL: its export names equal the expected list exactly
# (none missing, none extra, none decorated as Name@N or _Name), and every DLL
# it imports is a Windows system library.
set -euo pipefail
dll=${1:?dll}; objdump=${2:?objdump}; expected=${3:?expected exports file}

dump=$("$objdump" -p "$dll")
fail=0

actual=$(awk '/\[Ordinal\/Name Pointer\] Table/{t=1; next} t && /^[[:space:]]*\[ *[0-9]+\]/{print $NF; next} t && NF==0{t=0}' <<<"$dump" | sort)
want=$(grep -v '^\s*#' "$expected" | sed '/^\s*$/d' | sort)

if [ "$actual" != "$want" ]; then
  echo "export mismatch in $dll:"
  diff <(echo "$want") <(echo "$actual") | sed 's/^</  missing:/; s/^>/  extra:  /' | grep -E 'missing|extra' || true
  fail=1
fi
if grep -qE '@|^_' <<<"$actual"; then
  echo "decorated export names in $dll:"; grep -E '@|^_' <<<"$actual"; fail=1
fi

allowed='^(kernel32|user32|gdi32|advapi32|setupapi|ws2_32|comctl32|comdlg32|shell32|uxtheme|dwmapi|msvcrt|ole32)\.dll$'
imports=$(grep -oP 'DLL Name: \K\S+' <<<"$dump" | tr 'A-Z' 'a-z' | sort -u)
for imp in $imports; do
  if ! grep -qE "$allowed" <<<"$imp"; then echo "non-system import in $dll: $imp"; fail=1; fi
done

n=$(grep -c . <<<"$actual" || true)
echo "$dll: $n exports, imports: $(echo $imports)"
exit $fail
