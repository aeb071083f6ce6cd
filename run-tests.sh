#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks, builds every preset and runs
# every test: unit and system tests (also under sanitizers and valgrind), a
# bounded fuzz run, the static checks, and the .deb installed for real.
# Exits non-zero when anything fails.
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
  [/usr/bin/valgrind]=valgrind
  [/usr/bin/clang++]=clang
  [/usr/lib/llvm-14/lib/clang/14.0.6/lib/linux/libclang_rt.fuzzer-x86_64.a]=libclang-rt-14-dev
  [/usr/bin/clang-format]=clang-format
  [/usr/bin/clang-tidy]=clang-tidy
  [/usr/bin/jq]=jq
  [/usr/bin/man]=man-db
  [/usr/bin/dpkg-shlibdeps]=dpkg-dev
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
for preset in native sanitize fuzz; do
  say "$preset: build"
  cmake --preset "$preset" -DREAPIT_WERROR=ON >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  say "$preset: test"
  ctest --preset "$preset" -j "$jobs"
done

say "static checks"
tests/static_checks.sh build/native build/fuzz

say "package: .deb"
rm -f build/packages/*.deb
cpack --preset deb
if [[ $(id -u) -eq 0 ]]; then
  tests/package/install_deb.sh build/packages/reapit_*.deb
else
  echo "not root: the .deb was built but not installed and tried"
fi
say "all tests passed"
