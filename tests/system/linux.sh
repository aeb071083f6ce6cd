#!/usr/bin/env bash
# Runs the built binary on real files while this script, another process,
# changes the tree under it. Usage: linux.sh PATH_TO_REAPIT CASE
# With REAPIT_VALGRIND set, every run of the tool is under memcheck, and the
# case fails on a leak, an invalid access or a descriptor left open.
set -uo pipefail
# Bytes, not characters: names here need not be valid in any encoding.
export LC_ALL=C

reapit=$(realpath "$1")
case_name=$2
work=$(mktemp -d)
chmod 755 "$work"
holder=
mounted=
trap 'kill $holder 2>/dev/null; [[ -z $mounted ]] || umount -l "$mounted"
  chmod -R u+rwx "$work" 2>/dev/null; rm -rf "$work"' EXIT
io=$work/io # what the tool prints, kept apart from the tree it works on
tree=$work/tree
dir=$tree/d
out=$io/stdout
err=$io/stderr
mkdir -p "$io" "$dir"
chmod 777 "$io"

wrapper=()
if [[ -n ${REAPIT_VALGRIND:-} ]]; then
  wrapper=(valgrind -q --leak-check=full --show-leak-kinds=definite,indirect
    --errors-for-leak-kinds=definite,indirect --error-exitcode=97
    --track-fds=yes --log-fd=9)
  # Open before any run, so that valgrind's log never takes the place of a
  # standard descriptor that a case closes.
  exec 9>>"$io/valgrind.log"
fi

fail() {
  echo "FAIL [$case_name]: $*" >&2
  [[ -s $io/valgrind.log ]] && cat "$io/valgrind.log" >&2
  exit 1
}

# Every descriptor still open at exit must have been inherited: one that the
# tool opened and left open is listed with the stack that opened it.
check_valgrind_log() {
  [[ -e $io/valgrind.log ]] || return 0
  awk '/Open [a-zA-Z ]*file descriptor/ { getline; if ($0 !~ /inherited from parent/) bad = 1 }
       END { exit bad }' "$io/valgrind.log" || fail "a descriptor was left open"
}

# Runs the tool in the foreground; a generous bound keeps a fault from hanging.
run() {
  timeout 120 "${wrapper[@]}" "$reapit" "$@" >"$out" 2>"$err"
  status=$?
}

# Starts the tool in the background and returns once it is blocked in its wait.
start() {
  "${wrapper[@]}" "$reapit" "$@" >"$out" 2>"$err" &
  pid=$!
  wait_until_blocked
}

wait_until_blocked() {
  for _ in $(seq 3000); do
    kill -0 "$pid" 2>/dev/null || fail "the tool ended before it waited"
    [[ $(cat "/proc/$pid/wchan" 2>/dev/null) == *poll* ]] && return
    sleep 0.01
  done
  fail "the tool never blocked"
}

# Returns once the tool watches the directory at PATH: it has armed since the
# directory came, and what is made in it from then on wakes the tool.
wait_until_watching() {
  local inode
  inode=$(printf '%x' "$(stat -c %i "$1")") || fail "no directory $1"
  for _ in $(seq 3000); do
    kill -0 "$pid" 2>/dev/null || fail "the tool ended before it watched $1"
    grep -qs "^inotify wd:[0-9]* ino:$inode " "/proc/$pid/fdinfo/"* && return
    sleep 0.01
  done
  fail "the tool never watched $1"
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
expect_clean_exit() {
  [[ $status -eq 0 ]] || fail "exit status $status"
  [[ ! -s $err ]] || fail "standard error: $(cat "$err")"
}

expect_output() {
  expect_clean_exit
  diff -u <(printf '%b' "$1") "$out" >&2 || fail "standard output differs"
}

# Standard output must be the report of exactly the paths given, in byte
# order, each once; nothing at all when none is given.
expect_report() {
  expect_clean_exit
  local expected=$io/expected_report
  : >"$expected"
  if (($#)); then
    {
      printf 'Gave up without deleting:\n'
      printf '%s\0' "$@" | LC_ALL=C sort -zu | sed -z 's/^/\t/' | tr '\0' '\n'
    } >"$expected"
  fi
  cmp -s "$expected" "$out" ||
    fail "standard output differs: $(diff "$expected" "$out" | head -c 2000)"
}

expect_gone() {
  for path; do [[ ! -e $path && ! -L $path ]] || fail "$path is still there"; done
}

expect_there() {
  for path; do [[ -e $path ]] || fail "$path was deleted"; done
}

# Every path in the tree, each ended by a NUL, in byte order.
listing() { find "$tree" -print0 | LC_ALL=C sort -z; }

# The tree must be as listed in the file $1, less exactly the paths that
# follow it: nothing that was not named has gone.
expect_only_removed() {
  local before=$1
  shift
  : >"$io/removed"
  (($#)) && realpath -zms -- "$@" | sort -z >"$io/removed"
  comm -z -23 "$before" "$io/removed" >"$io/expected_listing"
  cmp -s "$io/expected_listing" <(listing) ||
    fail "the tree changed beyond the named files: $(diff \
      <(tr '\0' '\n' <"$io/expected_listing") <(listing | tr '\0' '\n'))"
}

# Prints STRING N times.
repeat() {
  local i
  for ((i = 0; i < $1; ++i)); do printf '%s' "$2"; done
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
  wait_until_watching "$dir/sub"
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
  wait_until_watching "$dir/in/x/y"
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
  "${as_user[@]}" "${wrapper[@]}" "$reapit" "$dir" 60 locked/f >"$out" 2>"$err" &
  pid=$!
  wait_until_blocked
  expect_there "$dir/locked/f"
  chmod 755 "$dir/locked"
  finish
  expect_output ""
  expect_gone "$dir/locked/f"
}

case_unreadable_directory_opened_later() {
  # A directory that the tool may not read cannot be watched, nor can one in
  # a directory that it may not search; once it may, a file made there must
  # wake the tool. Root reads anything, hence another user.
  local -a as_user=()
  if [[ $(id -u) -eq 0 ]]; then
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  fi
  local -a rows=(
    # the directory closed, its mode while closed, the file that appears
    "closed 000 closed/f"
    "closed 644 closed/inner/f"
    ". 644 inner/f"
  )
  local row closed mode name
  for row in "${rows[@]}"; do
    read -r closed mode name <<<"$row"
    chmod -R u+rwx "$dir" && rm -rf "$dir"
    mkdir -p "$dir/${name%/*}"
    chmod 777 "$dir/${name%/*}"
    chmod "$mode" "$dir/$closed"
    "${as_user[@]}" "${wrapper[@]}" "$reapit" "$dir" 60 "$name" >"$out" 2>"$err" &
    pid=$!
    wait_until_blocked
    chmod 777 "$dir/$closed"
    # The tool wakes for the change of permissions and waits again.
    wait_until_watching "$dir/${name%/*}"
    wait_until_blocked
    touch "$dir/$name"
    finish
    expect_output ""
    expect_gone "$dir/$name"
  done
}

case_deleted_while_in_use() {
  # While a process works in the watched directory, its deletion says nothing
  # to a watch on it. The tool must notice all the same, and end: what it
  # watched is gone.
  start "$dir" 600 late
  (cd "$dir" && exec sleep 600) >/dev/null 2>&1 &
  holder=$!
  rmdir "$dir"
  finish_soon
  expect_output "Gave up without deleting:\n\t$dir/late\n"
}

# Swaps two paths in one step, so that no one ever finds either missing.
exchange() {
  python3 -c 'import ctypes, os, sys
libc = ctypes.CDLL(None, use_errno=True)
AT_FDCWD, RENAME_EXCHANGE = -100, 2
if libc.renameat2(AT_FDCWD, os.fsencode(sys.argv[1]), AT_FDCWD,
                  os.fsencode(sys.argv[2]), RENAME_EXCHANGE) != 0:
    sys.exit(os.strerror(ctypes.get_errno()))' "$1" "$2" || fail "exchange $1 $2"
}

case_directory_above_swapped() {
  # Nothing happens in the watched directory, nor to it where it stands, but
  # its path now names another one, which must be watched from then on.
  mkdir -p "$work/other/d"
  start "$dir" 60 late
  exchange "$tree" "$work/other"
  wait_until_watching "$dir"
  wait_until_blocked
  touch "$dir/late"
  finish
  expect_output ""
  expect_gone "$dir/late"
}

case_unmounted_below() {
  # Mounting needs a user and mount namespace of the case's own; the machine's
  # mounts are never touched. The case runs again inside one.
  unshare --user --map-root-user --mount true 2>/dev/null ||
    skip "no user and mount namespace of our own"
  REAPIT_OWN_MOUNT_NAMESPACE=1 \
    unshare --user --map-root-user --mount --propagation private \
    bash "$0" "$reapit" unmounted_below_in_namespace ||
    fail "in its own namespace"
}

case_unmounted_below_in_namespace() {
  [[ -n ${REAPIT_OWN_MOUNT_NAMESPACE:-} ]] ||
    fail "mounts only in a namespace that unmounted_below made"
  # Once what is mounted on a directory of the tree is unmounted, the
  # directory it covered shows again, and must be watched.
  mkdir "$dir/m"
  mount -t tmpfs tmpfs "$dir/m" || fail "mount"
  mounted=$dir/m
  mkdir "$dir/m/inner"
  start "$dir" 60 m/late
  umount "$dir/m" || fail "umount"
  mounted=
  wait_until_watching "$dir/m"
  wait_until_blocked
  touch "$dir/m/late"
  finish
  expect_output ""
  expect_gone "$dir/m/late"
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

# One run per row: the first word names the row; each other word is a file
# name whose first byte says what is at its path before the run:
#   + a file, which must go     @ a link to a file, which must go (not its target)
#   ? nothing, reported         % a directory, reported and left alone
# Nothing but the + and @ paths may leave the tree.
case_odd_names() {
  local row
  while IFS= read -r row; do
    local -a words=()
    eval "words=($row)"
    try_names "${words[@]}"
  done <<'ROWS'
not_utf8     $'+\xff\xfe'  $'+caf\xe9'  $'?\xc3('  $'?\x80'
spaces       '+a b'  '+ '  '+trailing '  '?c d'
line_feed    $'+a\nb'  $'+\n'  $'?x\ny'
dashes       +-rf  +--  +-  +--help  +-5  '?-x'
dot_dot      +sub/../a  +../outside  ?..  ?sub/..  ?.
empty        '?'
empty_twice  '?'  '?'  '+a'
a_directory  %adir  +adir/inner  ?adir/
links        @link  @sub/link
format_text  '+%s%n'  '?%n%s%d'  '+*'  '?[a-z]*'
too_long     "?$(repeat 256 n)"  "?$(repeat 2100 d/)x"  "?$(repeat 100000 y)"
ROWS
}

try_names() {
  local row=$1 word name path
  shift
  local case_name=odd_names/$row
  rm -rf "$tree"
  mkdir -p "$dir/sub"
  touch "$tree/keep" "$dir/keep"
  local -a names=() removed=() left=()
  for word; do
    name=${word:1}
    path=$dir/$name
    names+=("$name")
    case ${word:0:1} in
      +) touch "$path" && removed+=("$path") ;;
      @) ln -s "$tree/keep" "$path" && removed+=("$path") ;;
      %) mkdir "$path" && left+=("$path") ;;
      \?) left+=("$path") ;;
    esac
  done
  listing >"$io/before"
  run "$dir" 1 "${names[@]}"
  expect_report "${left[@]}"
  expect_only_removed "$io/before" "${removed[@]}"
}

case_directory_arguments() {
  touch "$tree/file" "$dir/a"
  listing >"$io/before"

  # No watch can be set up on these, so each run ends after its one pass
  # instead of waiting out its limit.
  run "$tree/file" 600 a
  expect_report "$tree/file/a"
  local long=$dir/$(repeat 2100 ./)
  run "$long" 600 a
  expect_report "$long/a"
  # Joined as typed: the names are then taken from the root.
  run "" 600 "reapit-test-no-such-file-$$"
  expect_report "/reapit-test-no-such-file-$$"
  expect_only_removed "$io/before"

  # A directory named like an option, given relative to the working one.
  mkdir "$tree/-d" && touch "$tree/-d/x"
  (cd "$tree" && run -d 60 x && expect_report) || exit 1
  expect_gone "$tree/-d/x"

  # A link to the directory is followed, for deleting and for watching.
  ln -s d "$tree/link"
  start "$tree/link" 60 a late
  touch "$dir/late"
  finish
  expect_report
  expect_gone "$dir/a" "$dir/late"
  [[ -L $tree/link && -d $dir && ! -L $dir ]] || fail "the link or its target went"
}

case_many_names() {
  # 100,000 names of five bytes: about 1.4 MB of arguments with their
  # pointers, within the kernel's limit for one command line.
  local -a names
  mapfile -t names < <(seq -w 0 99999 | shuf)
  (($(getconf ARG_MAX) > 1600000)) || fail "ARG_MAX $(getconf ARG_MAX) is too small"
  # The even ones exist; the odd ones never appear and are given up on.
  (cd "$dir" && seq -w 0 2 99999 | xargs touch)
  touch "$tree/keep"
  listing >"$io/before"
  local -a even odd
  mapfile -t even < <(seq -f "$dir/%05g" 0 2 99999)
  mapfile -t odd < <(seq -f "$dir/%05g" 1 2 99999)
  run "$dir" 1 "${names[@]}"
  expect_report "${odd[@]}"
  expect_only_removed "$io/before" "${even[@]}"
}

# Each row: whether the seconds text is accepted, and the text.
case_seconds() {
  local row accepted text case_name
  while IFS= read -r row; do
    local -a words=()
    eval "words=($row)"
    accepted=${words[0]} text=${words[1]}
    case_name="seconds '$(printf '%q' "$text")' accepted: $accepted"
    touch "$dir/a"
    run "$dir" "$text" a
    if [[ $accepted == yes ]]; then
      expect_report
      expect_gone "$dir/a"
    else
      expect_output "$usage"
      expect_there "$dir/a"
    fi
  done <<'ROWS'
yes  1
yes  +4
yes  '  3'
yes  $'\t\n\v\f\r 5'
yes  7abc
yes  '4 2'
yes  1.5
yes  1e3
yes  0012
yes  010
yes  00000000000000000000001
yes  2147483647
yes  2147483648
yes  4294967296
yes  99999999999999999999999
no   ''
no   ' '
no   0
no   -0
no   +0
no   000
no   -2
no   +-4
no   -+4
no   '- 4'
no   +
no   -
no   abc
no   0x10
no   $'\xd9\xa3'
no   -2147483648
no   -2147483649
no   -99999999999999999999999
ROWS
}

# Runs the tool with standard output going where $1 says: closed, a full
# device, or a pipe whose reader has already gone.
run_into() {
  local target=$1
  shift
  case $target in
    closed) timeout 120 "${wrapper[@]}" "$reapit" "$@" >&- 2>"$err" ;;
    full) timeout 120 "${wrapper[@]}" "$reapit" "$@" >/dev/full 2>"$err" ;;
    broken_pipe)
      # Opening the pipe for reading and writing needs no peer; the write
      # end opened next outlives the only reader, closed before the run.
      mkfifo "$io/pipe"
      exec 3<>"$io/pipe" 4>"$io/pipe" 3<&-
      timeout 120 "${wrapper[@]}" "$reapit" "$@" >&4 2>"$err"
      ;;
  esac
  status=$?
  exec 4>&-
  rm -f "$io/pipe"
}

case_lost_output() {
  local target case_name
  for target in closed full broken_pipe; do
    case_name="lost_output, $target, usage"
    touch "$dir/a"
    run_into "$target" "$dir" 0 a
    expect_clean_exit
    expect_there "$dir/a"
    case_name="lost_output, $target, report"
    run_into "$target" "$dir" 1 a missing
    expect_clean_exit
    expect_gone "$dir/a"
  done
}

# Closed standard descriptors are opened on the null device at start, so
# none of the tool's own descriptors takes their place.
case_closed_standard_descriptors() {
  "${wrapper[@]}" "$reapit" "$dir" 60 late <&- >&- 2>&- &
  pid=$!
  wait_until_blocked
  local fd
  for fd in 0 1 2; do
    [[ $(readlink "/proc/$pid/fd/$fd") == /dev/null ]] ||
      fail "descriptor $fd is $(readlink "/proc/$pid/fd/$fd")"
  done
  touch "$dir/late"
  finish
  [[ $status -eq 0 ]] || fail "exit status $status"
  expect_gone "$dir/late"
}

# A misspelt command inside a case must fail it, not pass unnoticed; the
# handler runs in a subshell, so it stops this script by signal.
command_not_found_handle() {
  echo "FAIL [$case_name]: no command $1" >&2
  kill -s TERM $$
}
declare -F "case_$case_name" >/dev/null || fail "no case named $case_name"
"case_$case_name"
check_valgrind_log
echo "PASS [$case_name]"
