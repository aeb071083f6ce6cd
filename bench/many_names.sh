#!/usr/bin/env bash
# How the cost of a run grows with the number of names: each run deletes N
# files named on one command line, all at once, and the time per name should
# stay near flat (one attempt each, plus its place in the set).
# Usage: many_names.sh PATH_TO_REAPIT [N...]
set -euo pipefail
export LC_ALL=C
reapit=$(realpath "$1")
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

sizes=("$@")
((${#sizes[@]})) || sizes=(1000 10000 100000)
printf '%8s %10s %12s\n' names ms "us per name"
for n in "${sizes[@]}"; do
  mkdir "$work/d"
  mapfile -t names < <(seq -w 0 $((n - 1)) | shuf)
  (cd "$work/d" && printf '%s\n' "${names[@]}" | xargs touch)
  started=$(date +%s%N)
  "$reapit" "$work/d" 60 "${names[@]}" >"$work/out"
  ended=$(date +%s%N)
  [[ ! -s $work/out ]] || { echo "not everything was deleted" >&2; exit 1; }
  rmdir "$work/d"
  ns=$((ended - started))
  awk -v n="$n" -v ns="$ns" 'BEGIN { printf "%8d %10d %12.2f\n", n, ns / 1e6, ns / 1e3 / n }'
done
