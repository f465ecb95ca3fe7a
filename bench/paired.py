#!/usr/bin/env python3
"""Paired in-process timing shared by the bench scripts.

Runs each side once per round, in the order given (ours first, then each peer), for every round,
so that the machine's load falls on all sides alike; then prints the median time of each side and
the ratio of the first side's median to each other side's median (ratio of medians), with the
sizes of what each side wrote.

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
import time


class Side:
    def __init__(self, name):
        self.name, self.reports, self.fresh, self.goal, self.command, self.times = name, False, None, None, [], []

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
        done = subprocess.run(self.command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                              env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
        elapsed = time.monotonic() - start
        if done.returncode != 0:
            sys.stderr.write(done.stdout + done.stderr)
            sys.exit(f"{self.name} failed ({done.returncode}): {' '.join(self.command)}")
        if not self.reports:
            return elapsed
        for line in reversed(done.stdout.splitlines()):
            try:
                return float(line.split()[0])
            except (IndexError, ValueError):
                continue
        sys.exit(f"{self.name} printed no seconds: {done.stdout!r}")

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
    for _ in range(runs):
        for side in sides:
            side.times.append(side.run())
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
    how = f"median of {runs} paired runs" + (f", {ours.name} timed in process" if ours.reports else "")
    print(f"{label} [{how}]: {', '.join(parts)}; {', '.join(ratios)}"
          + "".join(f"; {s}" for s in sizes) + f"; load {os.getloadavg()[0]:.1f}", flush=True)


if __name__ == "__main__":
    main()
