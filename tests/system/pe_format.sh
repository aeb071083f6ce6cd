#!/usr/bin/env bash
# Checks that the Windows binary is a console program of the expected kind
# that imports from no DLL but the two every Windows has.
# Usage: pe_format.sh OBJDUMP REAPIT_EXE FORMAT (pei-i386 or pei-x86-64)
set -uo pipefail

objdump=$1
exe=$2
format=$3

fail() {
  echo "FAIL [pe_format]: $*" >&2
  exit 1
}

headers=$("$objdump" -p "$exe") || fail "$objdump cannot read $exe"
grep -q "file format $format\$" <<<"$headers" ||
  fail "not $format: $(grep 'file format' <<<"$headers")"
grep -Eq '^Subsystem[[:space:]]+0+3\b' <<<"$headers" ||
  fail "not a console program: $(grep '^Subsystem' <<<"$headers")"

imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | sort -u)
expected=$(printf '%s\n' KERNEL32.dll msvcrt.dll)
[[ $imports == "$expected" ]] ||
  fail "imports from: $(tr '\n' ' ' <<<"$imports")"
echo "PASS [pe_format]"
