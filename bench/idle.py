"""Idle: reapit waiting out its whole limit with no change, in a
one-directory and a 10,000-directory tree. Counts the system calls made
while it is blocked (from strace) and the CPU it uses while blocked and in
all (from a run without strace)."""

import os
import re
import subprocess
import sys
import tempfile
import time

import benchlib

# strace -f -ttt -T: "[pid] 1700000000.123456 name(args) = result <0.000012>"
CALL = re.compile(r"^(?:\[pid\s+\d+\]\s+|\d+\s+)?(\d+\.\d+) (\w+)\(.*<(\d+\.\d+)>$")


def calls_while_blocked(log):
    """Returns how many waits there were, how long the longest one lasted and
    how many calls began while it lasted."""
    calls = []
    with open(log) as lines:
        for line in lines:
            match = CALL.match(line.strip())
            if match:
                calls.append((float(match[1]), match[2], float(match[3])))
    waits = [c for c in calls if c[1] in ("poll", "ppoll")]
    longest = max(waits, key=lambda c: c[2])
    began, ended = longest[0], longest[0] + longest[2]
    during = [c for c in calls if began < c[0] < ended]
    return len(waits), longest[2], len(during)


def main():
    args = benchlib.arguments(__doc__, seconds=10, directories=10_000)
    sizes = (1, args.directories)

    with tempfile.TemporaryDirectory(prefix="reapit-bench-") as work:
        roots = {size: os.path.join(work, f"tree{size}") for size in sizes}
        for size, root in roots.items():
            benchlib.make_tree(root, size)
        # Every run is idle once it waits, so all of them wait side by side.
        # A traced walk is slow: ten seconds more keep the traced wait whole.
        traced, plain = {}, {}
        for size, root in roots.items():
            log = os.path.join(work, f"strace{size}")
            traced[size] = log, subprocess.Popen(
                ["strace", "-f", "-ttt", "-T", "-o", log, args.reapit, root,
                 str(args.seconds + 10), "never"], stdout=subprocess.DEVNULL)
            plain[size] = subprocess.Popen(
                [args.reapit, root, str(args.seconds), "never"],
                stdout=subprocess.DEVNULL)
        at_wait = {}
        for size, process in plain.items():
            benchlib.wait_asleep(process.pid)
            at_wait[size] = benchlib.cpu_ns(process.pid), time.monotonic()
        # Each run's CPU clock is read again a second before its limit, while
        # it still waits, and only then is any run waited for: its exit, when
        # the kernel drops every watch, is not part of the wait.
        waiting = {}
        for size in sorted(at_wait, key=lambda size: at_wait[size][1]):
            cpu, since = at_wait[size]
            time.sleep(max(0.0, since + args.seconds - 1 - time.monotonic()))
            waiting[size] = (benchlib.cpu_ns(plain[size].pid) - cpu) / 1e6
        figures = {}
        for size, process in plain.items():
            _, _, usage = os.wait4(process.pid, 0)
            process.returncode = 0
            figures[size] = (waiting[size],
                             (usage.ru_utime + usage.ru_stime) * 1000)
        for size, (log, process) in traced.items():
            process.wait()
            figures[size] += calls_while_blocked(log)

    print(f"idle: a {args.seconds} s wait with no change (system calls "
          "from strace, CPU from a run without it)")
    print(f"  {'directories':>11}{'waits':>7}{'blocked':>10}"
          f"{'calls while blocked':>21}{'CPU waiting':>13}{'CPU in all':>12}")
    for size, (waiting, cpu_all, waits, blocked, during) in figures.items():
        print(f"  {size:>11,}{waits:>7}{blocked:>8.3f} s{during:>21}"
              f"{waiting:>10.3f} ms{cpu_all:>9.1f} ms")
    return 0


if __name__ == "__main__":
    sys.exit(main())
