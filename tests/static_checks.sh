#!/usr/bin/env bash
# Fails on any clang-format difference, any clang-tidy warning, or any groff
# warning in the man page. Each BUILD_DIR holds a compile_commands.json;
# every source file in them is checked with its own flags.
# Usage: static_checks.sh BUILD_DIR...
set -euo pipefail
cd "$(dirname "$0")/.."

if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t sources < <(git ls-files '*.cc' '*.h')
else
  mapfile -t sources < <(find cli engine tests fuzz -name '*.cc' -o -name '*.h')
fi
echo "clang-format: ${#sources[@]} files"
clang-format --dry-run -Werror "${sources[@]}"

# One line per file: the build whose flags it takes, then the file.
for build in "$@"; do
  jq -r --arg build "$build" '.[] | "\($build) \(.file)"' \
    "$build/compile_commands.json"
done | sort -u -k2,2 >"${TMPDIR:-/tmp}/reapit-tidy-files.$$"
echo "clang-tidy: $(wc -l <"${TMPDIR:-/tmp}/reapit-tidy-files.$$") files"
status=0
xargs -P "$(nproc)" -L 1 sh -c 'clang-tidy --quiet -p "$0" "$1" 2>/dev/null' \
  <"${TMPDIR:-/tmp}/reapit-tidy-files.$$" || status=1
rm -f "${TMPDIR:-/tmp}/reapit-tidy-files.$$"
((status == 0)) || { echo "clang-tidy found the above" >&2; exit 1; }

echo "man page: docs/reapit.1"
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z \
  docs/reapit.1 2>&1 >/dev/null)
[[ -z $warnings ]] || { echo "$warnings" >&2; exit 1; }
