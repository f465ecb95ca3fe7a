#!/usr/bin/env python3
"""Paired timing shared by the bench scripts.

Runs each side once per round, in the order given (ours first, then each peer), for every round,
so that the machine's load falls on all sides alike; then prints the median time of each side and
the ratio of the first side's median to each other side's median (ratio of medians), with the
sizes of what each side wrote, the peak memory of each side's whole process (the largest of its
runs) and the machine's load over the rounds (one-minute average, lowest to highest).

    bench/paired.py LABEL [--runs N] SIDE SIDE...
    SIDE:  --side NAME [--reports] [--fresh PATH] [--goal RATIO] COMMAND...

  --reports     the command times itself (the converter call alone): the first field of the last
                line it prints that starts with a number is its seconds; otherwise the whole
                command is timed on the clock.
  --fresh PATH  removed before each run (a PATH ending in "/" is made again as an empty folder);
                its size after the last run (a file, or the files of a folder) is the side's output.
  --goal RATIO  for a peer: the first side's median over this side's should be at most RATIO.

N is BENCH_RUNS when --runs is not given, 5 by default and never fewer than 5. A command that
fails stops the bench with its output shown.
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


class Side:
    def __init__(self, name):
        self.name, self.reports, self.fresh, self.goal, self.command, self.times = name, False, None, None, [], []
        self.peak_kib = 0

    def prepare(self):
        if not self.fresh:
            return
        path = self.fresh.rstrip("/")
        if os.path.isdir(path) and not os.path.islink(path):
            shutil.rmtree(path)
        elif os.path.lexists(path):
            os.remove(path)
        if self.fresh.endswith("/"):
            os.makedirs(path)

    def run(self):
        self.prepare()
        start = time.monotonic()
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            child = subprocess.Popen(self.command, stdout=out, stderr=err, env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
            # wait4 gives this child's own peak resident size (with any children it waited for).
            _, status, usage = os.wait4(child.pid, 0)
            elapsed = time.monotonic() - start
            child.returncode = os.waitstatus_to_exitcode(status)
            out.seek(0), err.seek(0)
            stdout, stderr = out.read().decode(errors="replace"), err.read().decode(errors="replace")
        self.peak_kib = max(self.peak_kib, usage.ru_maxrss)
        if child.returncode != 0:
            sys.stderr.write(stdout + stderr)
            sys.exit(f"{self.name} failed ({child.returncode}): {' '.join(self.command)}")
        if not self.reports:
            return elapsed
        for line in reversed(stdout.splitlines()):
            try:
                return float(line.split()[0])
            except (IndexError, ValueError):
                continue
        sys.exit(f"{self.name} printed no seconds: {stdout!r}")

    def size(self):
        if not self.fresh:
            return None
        path = self.fresh.rstrip("/")
        if os.path.isfile(path):
            return os.path.getsize(path)
        return sum(os.path.getsize(os.path.join(folder, f)) for folder, _, files in os.walk(path) for f in files)


def parse(args):
    if not args or args[0].startswith("--"):
        sys.exit(__doc__)
    label, runs, sides = args[0], None, []
    i = 1
    while i < len(args):
        arg = args[i]
        if arg == "--runs" and not sides:
            runs, i = int(args[i + 1]), i + 2
        elif arg == "--side":
            sides.append(Side(args[i + 1]))
            i += 2
            while i < len(args) and args[i] in ("--reports", "--fresh", "--goal"):
                if args[i] == "--reports":
                    sides[-1].reports, i = True, i + 1
                elif args[i] == "--fresh":
                    sides[-1].fresh, i = args[i + 1], i + 2
                else:
                    sides[-1].goal, i = float(args[i + 1]), i + 2
            while i < len(args) and args[i] != "--side":
                sides[-1].command.append(args[i])
                i += 1
        else:
            sys.exit(f"unexpected {arg!r}\n{__doc__}")
    if len(sides) < 2 or any(not s.command for s in sides):
        sys.exit(f"two sides with commands are needed\n{__doc__}")
    if runs is None:
        runs = int(os.environ.get("BENCH_RUNS", "5"))
    return label, max(runs, 5), sides


def main():
    label, runs, sides = parse(sys.argv[1:])
    loads = []
    for _ in range(runs):
        loads.append(os.getloadavg()[0])
        for side in sides:
            side.times.append(side.run())
    loads.append(os.getloadavg()[0])
    medians = [statistics.median(s.times) for s in sides]
    ours = sides[0]
    parts = [f"{s.name} {m:.3f} s" for s, m in zip(sides, medians)]
    ratios = []
    for side, median in zip(sides[1:], medians[1:]):
        ratio = medians[0] / median if median else float("inf")
        text = f"ratio {ratio:.2f}" if len(sides) == 2 else f"{ours.name}/{side.name} {ratio:.2f}"
        if side.goal is not None:
            text += f" (goal <= {side.goal:g}: {'met' if ratio <= side.goal else 'not met'})"
        ratios.append(text)
    sizes = []
    our_size = ours.size()
    for side in sides[1:]:
        size = side.size()
        if our_size is not None and size:
            sizes.append(f"output size {ours.name}/{side.name} {our_size / size:.3f} ({our_size:,} vs {size:,} bytes)")
    how = f"median of {runs} paired runs" + (f", {ours.name} timed in process" if ours.reports else ", whole process")
    memory = "peak memory " + ", ".join(f"{s.name} {s.peak_kib / 1024:.0f} MiB" for s in sides)
    load = f"load {min(loads):.1f}" + (f"–{max(loads):.1f}" if f"{max(loads):.1f}" != f"{min(loads):.1f}" else "")
    print(f"{label} [{how}]: {', '.join(parts)}; {', '.join(ratios)}"
          + "".join(f"; {s}" for s in sizes) + f"; {memory}; {load}", flush=True)


if __name__ == "__main__":
    main()
