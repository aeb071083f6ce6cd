"""Bulk: many existing files deleted by one reapit run and by one `rm -f`
run on the same names, in interleaved runs, each on freshly made files.
Prints median times, their ratio, CPU and peak memory."""

import os
import subprocess
import sys
import tempfile
import time

import benchlib


def measure(argv, cwd, report):
    """Runs argv; returns wall seconds, CPU seconds, peak resident KiB and
    what it printed. GNU time reports the memory: a child of this Python
    would inherit its peak across exec."""
    began = time.perf_counter()
    done = subprocess.run(
        ["/usr/bin/time", "-f", "%U %S %M", "-o", report, *argv], cwd=cwd,
        stdout=subprocess.PIPE)
    if done.returncode != 0:
        raise RuntimeError(f"{argv[0]} exited with {done.returncode}")
    wall = time.perf_counter() - began
    with open(report) as figures:
        user, system, peak = figures.read().split()[-3:]
    return wall, float(user) + float(system), int(peak), done.stdout


def main():
    args = benchlib.arguments(__doc__, files=100_000, runs=5)
    reapit = args.reapit

    # Five digits keep 100,000 names within one command line (ARG_MAX).
    names = [f"{i:05d}" for i in range(args.files)]
    commands = {
        "rm -f": ["rm", "-f", *names],
        "reapit": [reapit, ".", "600", *names],
    }
    results = {name: [] for name in commands}
    with tempfile.TemporaryDirectory(prefix="reapit-bench-") as work:
        directory = os.path.join(work, "d")
        os.mkdir(directory)
        for run in range(args.runs):
            order = list(commands) if run % 2 == 0 else list(commands)[::-1]
            for name in order:
                benchlib.make_files(directory, names)
                os.sync()
                result = measure(commands[name], directory,
                                 os.path.join(work, "time"))
                left = os.listdir(directory)
                if left or result[3]:
                    raise RuntimeError(f"{name} left {len(left)} files")
                results[name].append(result[:3])

    print(f"bulk: {args.files:,} existing files deleted, median of "
          f"{args.runs} runs each, interleaved")
    print(f"  {'contender':<10}{'wall':>10}{'CPU':>10}{'peak RSS':>12}")
    for name, runs in results.items():
        wall = benchlib.median([r[0] for r in runs])
        cpu = benchlib.median([r[1] for r in runs])
        rss = max(r[2] for r in runs)
        print(f"  {name:<10}{wall:>8.3f} s{cpu:>8.3f} s{rss / 1024:>8.1f} MiB")
    ratio = (benchlib.median([r[0] for r in results["reapit"]]) /
             benchlib.median([r[0] for r in results["rm -f"]]))
    print(f"  reapit / rm -f = {ratio:.3f} (target 1.05 or less)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
