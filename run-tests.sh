#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks, builds every preset and runs
# every test. Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")"

say() { printf '\n=== %s\n' "$*"; }

# Debian packages the build and the tests need, keyed by a file each installs.
declare -A needs=(
  [/usr/bin/cmake]=cmake
  [/usr/bin/g++]=g++
  [/usr/bin/make]=make
  [/usr/include/gtest/gtest.h]=libgtest-dev
  [/usr/include/gmock/gmock.h]=libgmock-dev
  [/usr/bin/setpriv]=util-linux
)
missing=()
for file in "${!needs[@]}"; do
  [[ -e $file ]] || missing+=("${needs[$file]}")
done
if ((${#missing[@]})); then
  say "installing ${missing[*]}"
  if [[ $(id -u) -ne 0 ]]; then
    echo "run as root (or install these yourself): ${missing[*]}" >&2
    exit 1
  fi
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi

jobs=$(nproc)
for preset in native sanitize; do
  say "$preset: build"
  cmake --preset "$preset" -DREAPIT_WERROR=ON >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  say "$preset: test"
  ctest --preset "$preset" -j "$jobs"
done
say "all tests passed"
