#!/usr/bin/env bash
# Builds reapit and the benchmark helpers, runs every benchmark and prints
# the figures, each a ratio measured side by side in this one run.
# Needs: cmake, g++, cc, python3, strace, inotify-tools (inotifywait), time.
# Usage: bench/run.sh [reaction|bulk|churn|idle]...   (all four by default)
set -euo pipefail
cd "$(dirname "$0")/.."
bench=$PWD/bench

for tool in cmake cc python3 strace inotifywait /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== building"
cmake --preset native >/dev/null
cmake --build --preset native --target reapit -j 2 >/dev/null
reapit=$PWD/build/native/reapit
cc -O2 -Wall -o "$work/floor" "$bench/floor.c"
cc -O2 -Wall -o "$work/reaction" "$bench/reaction.c"

# For contrast, the build that walked the whole tree at every arming: the
# commit before the persistent watch came in, when this is a git checkout.
old=()
first=$(git log --diff-filter=A --format=%H -- engine/inotify_tree.cc 2>/dev/null |
  tail -n 1)
if [[ -n $first ]] && git rev-parse -q --verify "$first^" >/dev/null; then
  mkdir "$work/old"
  git archive "$first^" | tar -x -C "$work/old"
  cmake -S "$work/old" -B "$work/old/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$work/old/build" --target reapit -j 2 >/dev/null
  old=(--old "$work/old/build/reapit")
fi

echo "== machine"
echo "  $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- |
  sed 's/^ *//'), Linux $(uname -r), $(df -T "$work" | awk 'NR==2 {print $2}') under $work"
echo "  load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

selected=("$@")
((${#selected[@]})) || selected=(reaction bulk churn idle)
for name in "${selected[@]}"; do
  echo "== $name"
  case $name in
    reaction)
      python3 "$bench/reaction.py" --reapit "$reapit" --floor "$work/floor" \
        --reaction "$work/reaction" ;;
    bulk) python3 "$bench/bulk.py" --reapit "$reapit" ;;
    churn) python3 "$bench/churn.py" --reapit "$reapit" "${old[@]}" ;;
    idle) python3 "$bench/idle.py" --reapit "$reapit" ;;
    *) echo "no benchmark named $name" >&2; exit 1 ;;
  esac
done
echo "== load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
