#!/usr/bin/env bash
# Runs the built binary on real files while this script, another process,
# changes the tree under it. Usage: linux.sh PATH_TO_REAPIT CASE
set -uo pipefail

reapit=$(realpath "$1")
case_name=$2
work=$(mktemp -d)
chmod 755 "$work"
trap 'chmod -R u+rwx "$work" 2>/dev/null; rm -rf "$work"' EXIT
out=$work/stdout
err=$work/stderr
dir=$work/d
mkdir "$dir"

fail() {
  echo "FAIL [$case_name]: $*" >&2
  exit 1
}

# Runs the tool in the foreground; a generous bound keeps a fault from hanging.
run() {
  timeout 60 "$reapit" "$@" >"$out" 2>"$err"
  status=$?
}

# Starts the tool in the background and returns once it is blocked in its wait.
start() {
  "$reapit" "$@" >"$out" 2>"$err" &
  pid=$!
  wait_until_blocked
}

wait_until_blocked() {
  for _ in $(seq 1000); do
    kill -0 "$pid" 2>/dev/null || fail "the tool ended before it waited"
    [[ $(cat "/proc/$pid/wchan" 2>/dev/null) == *poll* ]] && return
    sleep 0.01
  done
  fail "the tool never blocked"
}

finish() {
  wait "$pid"
  status=$?
}

# Like finish, for a tool that must end on its own well before its limit.
finish_soon() {
  if ! timeout 60 tail --pid="$pid" -f /dev/null; then
    kill "$pid"
    fail "the tool kept waiting"
  fi
  finish
}

skip() {
  echo "SKIP [$case_name]: $*"
  exit 77
}

# Prefix that runs a command in a user namespace of its own whose inotify
# watch limit is the word after it, leaving the machine's own limit alone.
with_watch_limit=(unshare --user --map-root-user sh -c
  'echo "$1" >/proc/sys/user/max_inotify_watches && shift && exec "$@"' sh)

need_watch_limit() {
  "${with_watch_limit[@]}" 10 true 2>/dev/null ||
    skip "no user namespace with an inotify watch limit of its own"
}

# The tool always exits 0 and never writes to standard error.
expect_output() {
  [[ $status -eq 0 ]] || fail "exit status $status"
  [[ ! -s $err ]] || fail "standard error: $(cat "$err")"
  diff -u <(printf '%b' "$1") "$out" >&2 || fail "standard output differs"
}

expect_gone() {
  for path; do [[ ! -e $path && ! -L $path ]] || fail "$path is still there"; done
}

expect_there() {
  for path; do [[ -e $path ]] || fail "$path was deleted"; done
}

usage='Usage:\nReapit <directory> <wait seconds> <filename> [filename...]\n'

case_usage() {
  local -a refused=(
    ""
    "$dir"
    "$dir 5"
    "$dir 0 a"
    "$dir -2 a"
    "$dir abc a"
  )
  for args in "${refused[@]}"; do
    # shellcheck disable=SC2086  # the table's words are the arguments
    run $args
    expect_output "$usage"
  done
  touch "$dir/a"
  run "$dir" "" a
  expect_output "$usage"
  expect_there "$dir/a"
}

case_deleted_at_once() {
  touch "$dir/a" "$dir/b" "$dir/other"
  mkdir "$dir/sub" && touch "$dir/sub/c"
  run "$dir" 60 b a sub/c
  expect_output ""
  expect_gone "$dir/a" "$dir/b" "$dir/sub/c"
  expect_there "$dir/other" "$dir/sub"
}

case_appears_later() {
  start "$dir" 60 late
  touch "$dir/late"
  finish
  expect_output ""
  expect_gone "$dir/late"
}

case_appears_in_new_subdirectory() {
  start "$dir" 60 sub/late
  mkdir "$dir/sub"
  # The tool wakes for the new directory and waits again, now watching it.
  sleep 0.2
  wait_until_blocked
  touch "$dir/sub/late"
  finish
  expect_output ""
  expect_gone "$dir/sub/late"
  expect_there "$dir/sub"
}

case_appears_in_moved_in_tree() {
  mkdir -p "$work/outside/in/x/y"
  start "$dir" 60 in/x/y/late
  mv "$work/outside/in" "$dir/in"
  # The tool wakes for the tree, walks it and waits again, now watching it.
  sleep 0.2
  wait_until_blocked
  touch "$dir/in/x/y/late"
  finish
  expect_output ""
  expect_gone "$dir/in/x/y/late"
}

# Four directories: the limit of four lets the tool wait; three end the run
# after one pass, long before its limit.
case_watch_limit_at_start() {
  need_watch_limit
  mkdir -p "$dir/a/b" "$dir/c"
  "${with_watch_limit[@]}" 4 "$reapit" "$dir" 600 late >"$out" 2>"$err" &
  pid=$!
  wait_until_blocked
  touch "$dir/late"
  finish_soon
  expect_output ""
  expect_gone "$dir/late"

  "${with_watch_limit[@]}" 3 "$reapit" "$dir" 600 late >"$out" 2>"$err" &
  pid=$!
  finish_soon
  expect_output "Gave up without deleting:\n\t$dir/late\n"
}

case_watch_limit_reached_later() {
  need_watch_limit
  mkdir "$dir/sub"
  "${with_watch_limit[@]}" 3 "$reapit" "$dir" 600 late >"$out" 2>"$err" &
  pid=$!
  wait_until_blocked
  mkdir -p "$dir/new/deeper"
  finish_soon
  expect_output "Gave up without deleting:\n\t$dir/late\n"
  expect_there "$dir/new/deeper"
}

case_permission_granted_later() {
  # Root may delete anything, so the tool runs as an unprivileged user.
  local -a as_user=()
  if [[ $(id -u) -eq 0 ]]; then
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  fi
  mkdir "$dir/locked"
  touch "$dir/locked/f"
  [[ ${#as_user[@]} -gt 0 ]] && chown -R 65534:65534 "$dir/locked"
  chmod 555 "$dir/locked"
  "${as_user[@]}" "$reapit" "$dir" 60 locked/f >"$out" 2>"$err" &
  pid=$!
  wait_until_blocked
  expect_there "$dir/locked/f"
  chmod 755 "$dir/locked"
  finish
  expect_output ""
  expect_gone "$dir/locked/f"
}

case_missing_directory() {
  run "$work/missing" 60 b a
  expect_output "Gave up without deleting:\n\t$work/missing/a\n\t$work/missing/b\n"
}

case_no_change() {
  touch "$dir/other"
  local started ended
  started=$(date +%s%N)
  run "$dir" 1 b a A
  ended=$(date +%s%N)
  expect_output "Gave up without deleting:\n\t$dir/A\n\t$dir/a\n\t$dir/b\n"
  (( (ended - started) / 1000000 >= 1000 )) || fail "ended before its limit"
}

"case_$case_name"
echo "PASS [$case_name]"
