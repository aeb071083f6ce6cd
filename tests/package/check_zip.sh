#!/usr/bin/env bash
# Checks the Windows .zip: one folder holding nothing but a 32-bit console
# program that needs no DLL beyond Windows' own, and a README with Windows
# line ends. Usage: check_zip.sh ZIP
set -uo pipefail

zip=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "FAIL [zip]: $*" >&2
  exit 1
}

cd "$work" && cmake -E tar xf "$zip" || fail "cannot unpack $zip"
folder=$(basename "$zip" .zip)
listed=$(find . -type f | sort)
[[ $listed == "$(printf '%s\n' "./$folder/README.txt" "./$folder/reapit.exe")" ]] ||
  fail "holds: $listed"
bash "$here/../system/pe_format.sh" i686-w64-mingw32-objdump \
  "$folder/reapit.exe" pei-i386 || fail "reapit.exe is not as built"
lines=$(wc -l <"$folder/README.txt")
crlf=$(grep -c $'\r$' "$folder/README.txt")
((lines > 0 && lines == crlf)) ||
  fail "README.txt: $crlf of $lines lines end in CR LF"
echo "PASS [zip]"
