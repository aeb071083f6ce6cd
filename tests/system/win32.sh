#!/usr/bin/env bash
# Runs the built Windows binary under Wine on real files while this script,
# and a Windows program that holds a file open, change the tree under it.
# Usage: win32.sh CASE REAPIT_EXE HOLDER_EXE WINE_COMMAND...
set -uo pipefail

case_name=$1
reapit=$(realpath "$2")
holder=$(realpath "$3")
wine=("${@:4}")
work=$(mktemp -d)
pid=
holder_pid=
cleanup() {
  # shellcheck disable=SC2086  # either may be empty
  kill $pid $holder_pid 2>/dev/null
  chmod -R u+rwx "$work" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
# The tool is given paths relative to here, as a user at a prompt would:
# the watched directory is d, and its report reads d\name.
cd "$work" || exit 1
mkdir d
out=$work/stdout
err=$work/stderr

fail() {
  echo "FAIL [$case_name]: $*" >&2
  exit 1
}

skip() {
  echo "SKIP [$case_name]: $*"
  exit 77
}

# Runs the tool in the foreground; a generous bound keeps a fault from hanging.
run() {
  timeout 60 "${wine[@]}" "$reapit" "$@" >"$out" 2>"$err"
  status=$?
}

# The tool in the background, given the names to delete and, last, ..\passed:
# a file outside the watched tree that the tool deletes in its first pass
# without waking its own watch. The names of the cases begin with '-', which
# sorts before '.', so that once `passed` is gone the first attempt at every
# other name has been made. What follows that can only be a wait.
start() {
  touch passed
  "${wine[@]}" "$reapit" "$@" '..\passed' >"$out" 2>"$err" &
  pid=$!
  for _ in $(seq 3000); do
    [[ -e passed ]] || return 0
    kill -0 "$pid" 2>/dev/null || fail "the tool ended before its first pass"
    sleep 0.02
  done
  fail "the tool never made its first pass"
}

finish() {
  wait "$pid"
  status=$?
  pid=
}

# The holder opens a file without delete sharing and says so; it closes it
# when `release` appears, then creates its optional last argument.
hold() {
  "${wine[@]}" "$holder" "$1" ready release "${@:2}" 2>holder.err &
  holder_pid=$!
  for _ in $(seq 3000); do
    [[ -e ready ]] && return 0
    kill -0 "$holder_pid" 2>/dev/null || fail "holder: $(cat holder.err)"
    sleep 0.02
  done
  fail "the holder never held"
}

release() {
  touch release
  wait "$holder_pid" || fail "holder: $(cat holder.err)"
  holder_pid=
}

# The tool always exits 0 and never writes to standard error. Standard output
# is a text stream: every line ends in CR LF.
expect_output() {
  [[ $status -eq 0 ]] || fail "exit status $status"
  [[ ! -s $err ]] || fail "standard error: $(cat "$err")"
  diff -u <(printf '%b' "$1" | sed 's/$/\r/') "$out" >&2 ||
    fail "standard output differs"
}

expect_gone() {
  for path; do [[ ! -e $path ]] || fail "$path is still there"; done
}

expect_there() {
  for path; do [[ -e $path ]] || fail "$path was deleted"; done
}

usage='Usage:\nReapit <directory> <wait seconds> <filename> [filename...]\n'

case_usage() {
  local -a refused=(
    ""
    "d"
    "d 5"
    "d 0 a"
    "d -2 a"
    "d abc a"
  )
  for args in "${refused[@]}"; do
    # shellcheck disable=SC2086  # the table's words are the arguments
    run $args
    expect_output "$usage"
  done
  touch d/a
  run d "" a
  expect_output "$usage"
  expect_there d/a
}

case_deleted_at_once() {
  touch d/a d/b d/other
  mkdir d/sub && touch d/sub/c
  run d 60 b a 'sub\c'
  expect_output ""
  expect_gone d/a d/b d/sub/c
  expect_there d/other d/sub
}

case_gave_up_in_byte_order() {
  touch d/other
  local started ended
  started=$(date +%s%N)
  run d 1 b a A
  ended=$(date +%s%N)
  expect_output 'Gave up without deleting:\n\td\\A\n\td\\a\n\td\\b\n'
  (((ended - started) / 1000000 >= 1000)) || fail "ended before its limit"
}

case_missing_directory() {
  # Waiting at all would outlast run's bound.
  run missing 600 b a
  expect_output 'Gave up without deleting:\n\tmissing\\a\n\tmissing\\b\n'
}

case_wildcards_taken_literally() {
  touch d/a1 d/a2
  run d 1 'a*' 'a?'
  expect_output 'Gave up without deleting:\n\td\\a*\n\td\\a?\n'
  expect_there d/a1 d/a2
}

case_appears_later() {
  start d 60 -late
  touch d/-late
  finish
  expect_output ""
  expect_gone d/-late
}

case_held_until_change() {
  touch d/-held.log
  hold 'd\-held.log' 'd\-changed'
  start d 60 -held.log
  expect_there d/-held.log
  release
  finish
  expect_output ""
  expect_gone d/-held.log
  expect_there d/-changed
}

case_held_released_quietly() {
  touch d/-held.log
  hold 'd\-held.log'
  start d 3 -held.log
  release
  finish
  expect_output 'Gave up without deleting:\n\td\\-held.log\n'
  expect_there d/-held.log
}

case_read_only_cleared_later() {
  touch d/-locked
  chmod a-w d/-locked
  start d 60 -locked
  expect_there d/-locked
  chmod u+w d/-locked
  finish
  expect_output ""
  expect_gone d/-locked
}

case_appears_in_subdirectory() {
  mkdir d/-sub
  start d 5 '-sub\-late'
  touch d/-sub/-late
  finish
  if [[ -e d/-sub/-late ]]; then
    expect_output 'Gave up without deleting:\n\td\\-sub\\-late\n'
    skip "Wine 8.0 does not signal a subtree watch for a change inside" \
      "a subdirectory"
  fi
  expect_output ""
}

# A misspelt command inside a case must fail it, not pass unnoticed; the
# handler runs in a subshell, so it stops this script by signal.
command_not_found_handle() {
  echo "FAIL [$case_name]: no command $1" >&2
  kill -s TERM $$
}
declare -F "case_$case_name" >/dev/null || fail "no case named $case_name"
"case_$case_name"
echo "PASS [$case_name]"
