"""What the benchmarks share: trees on disk, processes and their CPU time."""

import argparse
import os
import signal
import statistics
import subprocess
import time


def arguments(description, **defaults):
    """Parses --reapit, made absolute, and one option per default, typed
    like it: arguments(__doc__, runs=21) accepts --runs 15."""
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--reapit", required=True)
    for name, default in defaults.items():
        parser.add_argument("--" + name, default=default,
                            type=type(default) if default is not None else str)
    args = parser.parse_args()
    args.reapit = os.path.abspath(args.reapit)
    return args


def make_tree(root, directories):
    """Makes `root` and, below it, more directories up to `directories` in
    all, 100 to a parent, breadth first: 10,000 makes three levels."""
    os.makedirs(root)
    parents, made = [root], 1
    while made < directories:
        parent = parents.pop(0)
        for i in range(min(100, directories - made)):
            path = os.path.join(parent, f"d{i}")
            os.mkdir(path)
            parents.append(path)
            made += 1


def make_files(directory, names):
    for name in names:
        os.close(os.open(os.path.join(directory, name),
                         os.O_CREAT | os.O_WRONLY, 0o644))


def state(pid):
    """Returns the scheduler state letter of process `pid`, or None."""
    try:
        with open(f"/proc/{pid}/stat") as stat:
            return stat.read().rsplit(")", 1)[1].split()[0]
    except (OSError, IndexError):
        return None


def blocked_in(pid):
    """Returns the kernel function process `pid` sleeps in, or ""."""
    try:
        with open(f"/proc/{pid}/wchan") as wchan:
            return wchan.read()
    except OSError:
        return ""


def wait_asleep(pid, settle=0.05, timeout=120, blocked_in_call="poll"):
    """Returns once process `pid` has been asleep in `blocked_in_call` for
    `settle` seconds in a row: blocked in its wait, done with its start or
    with its last change."""
    give_up = time.monotonic() + timeout
    asleep_since = None
    while time.monotonic() < give_up:
        now_state = state(pid)
        if now_state is None:
            raise RuntimeError(f"process {pid} ended before it waited")
        if now_state == "S" and blocked_in_call in blocked_in(pid):
            asleep_since = asleep_since or time.monotonic()
            if time.monotonic() - asleep_since >= settle:
                return
        else:
            asleep_since = None
        time.sleep(0.002)
    raise RuntimeError(f"process {pid} never settled")


def cpu_ns(pid):
    """Returns the CPU time process `pid` has used so far, in nanoseconds."""
    with open(f"/proc/{pid}/schedstat") as schedstat:
        return int(schedstat.read().split()[0])


def sleeps(pid):
    """Returns how often process `pid` has gone to sleep of its own accord."""
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("voluntary_ctxt_switches:"):
                return int(line.split()[1])
    return 0


def start(argv, **kwargs):
    return subprocess.Popen(argv, stdout=subprocess.DEVNULL,
                            start_new_session=True, **kwargs)


def stop(process):
    if process.poll() is None:
        os.killpg(process.pid, signal.SIGTERM)
    process.wait()


def median(values):
    return statistics.median(values)


def quartiles(values):
    """Returns the 25th and 75th percentiles."""
    if len(values) < 2:
        return values[0], values[0]
    q = statistics.quantiles(values, n=4)
    return q[0], q[2]
