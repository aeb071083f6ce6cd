"""Reaction: from a file's creation to its deletion, for reapit, for the
floor (one inotify watch that unlinks at its first event) and for the usual
shell answers, in interleaved runs. Prints medians and ratios to the floor."""

import os
import subprocess
import sys
import tempfile

import benchlib


def contenders(args, directory):
    target = os.path.join(directory, "late")
    return {
        "floor": [args.floor, directory, "late"],
        "reapit": [args.reapit, directory, "600", "late"],
        "inotifywait -r loop": [
            "sh", "-c",
            'until rm "$1/late" 2>/dev/null; do inotifywait -qq -r "$1"; done',
            "sh", directory],
        "rm every 0.1 s": [
            "sh", "-c", 'until rm "$1" 2>/dev/null; do sleep 0.1; done',
            "sh", target],
    }


def main():
    args = benchlib.arguments(__doc__, floor="", reaction="", runs=21)

    with tempfile.TemporaryDirectory(prefix="reapit-bench-") as work:
        directory = os.path.join(work, "d")
        os.mkdir(directory)
        commands = contenders(args, directory)
        names = list(commands)
        times = {name: [] for name in names}
        for run in range(args.runs):
            # A different order each round, so that no contender always
            # follows the same one.
            shift = run % len(names)
            for name in names[shift:] + names[:shift]:
                out = subprocess.run(
                    [args.reaction, directory, "late", *commands[name]],
                    check=True, capture_output=True, text=True).stdout
                times[name].append(float(out))

    floor = benchlib.median(times["floor"])
    print(f"reaction: creation to deletion, median of {args.runs} runs "
          "each, interleaved")
    print(f"  {'contender':<22}{'median':>12}{'quartiles':>22}"
          f"{'x floor':>10}")
    for name in names:
        low, high = benchlib.quartiles(times[name])
        mid = benchlib.median(times[name])
        print(f"  {name:<22}{mid:>9.0f} us{low:>10.0f} - {high:>6.0f} us"
              f"{mid / floor:>9.2f}x")
    ratio = benchlib.median(times["reapit"]) / floor
    print(f"  reapit / floor = {ratio:.2f} (target 1.30 or less)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
