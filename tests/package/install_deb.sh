#!/usr/bin/env bash
# Installs the .deb as a user would, runs reapit from the PATH on real files,
# reads its man page, and removes the package again. Needs root.
# Usage: install_deb.sh PATH_TO_DEB
set -euo pipefail

deb=$(realpath "$1")
fail() {
  echo "FAIL [deb]: $*" >&2
  exit 1
}

if dpkg-query -W -f '${Status}' reapit 2>/dev/null | grep -q installed; then
  fail "reapit is installed already; remove it first, this test will not"
fi
work=$(mktemp -d)
trap 'dpkg -r reapit >/dev/null 2>&1; rm -rf "$work"' EXIT

# Some images keep man pages out of every package (path-exclude in
# /etc/dpkg/dpkg.cfg.d); let this one through, as a user reading it would.
dpkg --path-include='/usr/share/man/man1/reapit.1*' -i "$deb" >/dev/null

[[ $(command -v reapit) == /usr/bin/reapit ]] ||
  fail "reapit on the PATH is '$(command -v reapit)'"
touch "$work/a"
out=$(cd / && reapit "$work" 1 a missing)
[[ $out == "$(printf 'Gave up without deleting:\n\t%s/missing' "$work")" ]] ||
  fail "reapit printed: $out"
[[ ! -e $work/a ]] || fail "reapit left $work/a"

[[ $(man -w reapit) == /usr/share/man/man1/reapit.1* ]] ||
  fail "man finds '$(man -w reapit)'"
page=$(MANWIDTH=80 man reapit 2>&1) || fail "man reapit: $page"
grep -q '^NAME' <<<"$page" && grep -Eq 'reapit +- +delete +files' <<<"$page" &&
  grep -q '^EXIT STATUS' <<<"$page" || fail "man reapit printed: $page"

dpkg -r reapit >/dev/null
hash -r
[[ ! -e /usr/bin/reapit && ! -e /usr/share/man/man1/reapit.1 ]] ||
  fail "dpkg -r left files behind"
echo "PASS [deb]"
