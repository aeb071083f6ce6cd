#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks, builds every preset and runs
# every test: unit and system tests (also under sanitizers and valgrind), a
# bounded fuzz run, the static checks, the .deb installed for real, and the
# Windows build under Wine. Exits non-zero when anything fails. With CI=true,
# a Windows leg that cannot run is a failure too; elsewhere it is skipped,
# loudly.
set -euo pipefail
cd "$(dirname "$0")"

say() { printf '\n=== %s\n' "$*"; }
shout() { printf '\n' >&2 && printf '!!! %s\n' "$@" >&2; }

# Debian packages the build and the tests need, keyed by a file each installs.
# shellcheck disable=SC2034  # read by missing_of, by name
declare -A needs=(
  [/usr/bin/cmake]=cmake
  [/usr/bin/g++]=g++
  [/usr/bin/make]=make
  [/usr/include/gtest/gtest.h]=libgtest-dev
  [/usr/include/gmock/gmock.h]=libgmock-dev
  [/usr/bin/setpriv]=util-linux
  [/usr/bin/mount]=mount
  [/usr/bin/python3]=python3-minimal
  [/usr/bin/valgrind]=valgrind
  [/usr/bin/clang++]=clang
  [/usr/lib/llvm-14/lib/clang/14.0.6/lib/linux/libclang_rt.fuzzer-x86_64.a]=libclang-rt-14-dev
  [/usr/bin/clang-format]=clang-format
  [/usr/bin/clang-tidy]=clang-tidy
  [/usr/bin/jq]=jq
  [/usr/bin/man]=man-db
  [/usr/bin/dpkg-shlibdeps]=dpkg-dev
  [/usr/bin/file]=file
)
# And those of the Windows leg: the cross compilers, GoogleTest's sources to
# build with them, and Wine to run what they build.
# shellcheck disable=SC2034  # read by missing_of, by name
declare -A windows_needs=(
  [/usr/bin/i686-w64-mingw32-g++-posix]=g++-mingw-w64-i686
  [/usr/bin/x86_64-w64-mingw32-g++-posix]=g++-mingw-w64-x86-64
  [/usr/src/googletest/CMakeLists.txt]=googletest
  [/usr/bin/wine]=wine
  [/usr/lib/wine/wine]=wine32:i386
  [/usr/lib/wine/wine64]=wine64
)

missing_of() {
  local -n table=$1
  local file
  for file in "${!table[@]}"; do
    [[ -e $file ]] || printf '%s\n' "${table[$file]}"
  done
}
mapfile -t missing < <(missing_of needs)
mapfile -t windows_missing < <(missing_of windows_needs)

if ((${#missing[@]})) && [[ $(id -u) -ne 0 ]]; then
  echo "run as root (or install these yourself): ${missing[*]}" >&2
  exit 1
fi
windows=true
if ((${#windows_missing[@]})) && [[ $(id -u) -ne 0 ]]; then
  shout "THE WINDOWS LEG CANNOT RUN: it needs ${windows_missing[*]}," \
    "and only root can install them."
  [[ ${CI:-} == true ]] && exit 1
  windows=false
  windows_missing=()
fi
install=("${missing[@]}" "${windows_missing[@]}")
if ((${#install[@]})); then
  say "installing ${install[*]}"
  if [[ " ${install[*]} " == *:i386* ]] &&
    ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${install[@]}"
fi

jobs=$(nproc)
build() {
  say "$1: build"
  cmake --preset "$1" -DREAPIT_WERROR=ON -DBUILD_TESTING=ON >/dev/null
  cmake --build --preset "$1" -j "$jobs"
}

for preset in native sanitize fuzz; do
  build "$preset"
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

if [[ $windows == true ]]; then
  build win32
  # Wine runs a 32-bit program as 32-bit code, which a kernel booted without
  # 32-bit support refuses to run at all; its own 32-bit loader tells.
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    say "win32: test"
    ctest --preset win32 -j "$jobs"
  else
    shout "THIS KERNEL RUNS NO 32-BIT CODE (ia32 emulation is off), so Wine" \
      "cannot run build/win32/reapit.exe. Only its headers are checked;" \
      "the same tests run under Wine on the 64-bit build of the same code."
    say "win32: test of the binary's headers"
    ctest --preset win32 -j "$jobs" -LE wine
    build win64
    say "win64: test"
    ctest --preset win64 -j "$jobs"
  fi
  say "package: .zip"
  rm -f build/packages/*.zip
  cpack --preset zip
  tests/package/check_zip.sh build/packages/reapit-*-win32.zip
fi
say "all tests passed"
