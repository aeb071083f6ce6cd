"""Churn: the CPU a waiting reapit spends per change, in a one-directory
tree and in a 10,000-directory tree, under the same stream of changes (a file
made and removed in the watched directory, one change a millisecond). Prints
CPU per change and the ratio of the large tree to the small one."""

import os
import sys
import tempfile
import time

import benchlib


def stream(directory, changes, pause):
    path = os.path.join(directory, "churn")
    for i in range(changes):
        if i % 2 == 0:
            os.close(os.open(path, os.O_CREAT | os.O_WRONLY, 0o644))
        else:
            os.unlink(path)
        time.sleep(pause)


def cpu_per_change(reapit, root, changes, pause):
    """Returns CPU microseconds per change and sleeps of a reapit waiting
    on `root` for a file that never comes."""
    process = benchlib.start([reapit, root, "3600", "never"])
    try:
        benchlib.wait_asleep(process.pid)
        cpu, slept = benchlib.cpu_ns(process.pid), benchlib.sleeps(process.pid)
        stream(root, changes, pause)
        benchlib.wait_asleep(process.pid)
        cpu = benchlib.cpu_ns(process.pid) - cpu
        slept = benchlib.sleeps(process.pid) - slept
    finally:
        benchlib.stop(process)
    return cpu / 1000 / changes, slept


def main():
    args = benchlib.arguments(__doc__, old=None, directories=10_000,
                              changes=2000, pause=0.001, rounds=5)

    builds = {"reapit": args.reapit}
    if args.old:
        builds["re-walking"] = args.old
    sizes = (1, args.directories)
    with tempfile.TemporaryDirectory(prefix="reapit-bench-") as work:
        roots = {}
        for size in sizes:
            roots[size] = os.path.join(work, f"tree{size}")
            benchlib.make_tree(roots[size], size)
        # Rounds interleave trees and builds, so that all meet the same load.
        runs = {(build, size): [] for build in builds for size in sizes}
        for _ in range(args.rounds):
            for build, size in runs:
                runs[build, size].append(cpu_per_change(
                    builds[build], roots[size], args.changes, args.pause))
        figures = {key: (benchlib.median([r[0] for r in results]),
                         benchlib.median([r[1] for r in results]))
                   for key, results in runs.items()}

    print(f"churn: {args.changes} changes, one a {args.pause * 1000:g} ms, "
          f"median of {args.rounds} rounds")
    print(f"  {'build':<12}{'directories':>12}{'CPU per change':>18}"
          f"{'sleeps':>10}")
    for (build, size), (cpu, slept) in figures.items():
        print(f"  {build:<12}{size:>12,}{cpu:>15.1f} us{slept:>10.0f}")
    for build in builds:
        ratio = figures[build, sizes[1]][0] / figures[build, sizes[0]][0]
        print(f"  {build}: {sizes[1]:,} directories / 1 = {ratio:.2f}"
              + (" (target 2 or less)" if build == "reapit" else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())
