#!/usr/bin/env python3
"""Turns estimate_table's rows into Markdown tables: for videos, projected against written size;
for images, estimated against written size and estimated quality loss against the SSIM loss that
ffmpeg's ssim filter measures on grey between the source and the written file."""
import os
import re
import subprocess
import sys
from collections import OrderedDict

LEVELS = ["maximum", "high", "balanced", "small", "tiny"]


def ffmpeg_loss(source, written):
    run = subprocess.run(["ffmpeg", "-nostdin", "-hide_banner", "-i", source, "-i", written, "-lavfi",
                          "[0:v]format=gray[a];[1:v]format=gray[b];[a][b]ssim", "-f", "null", "-"],
                         capture_output=True, text=True)
    found = re.search(r"All:([0-9.]+)", run.stderr)
    return (1 - float(found.group(1))) * 100 if found else None


def kib(n):
    return f"{n / 1024:.0f}"


rows = OrderedDict()
for line in open(sys.argv[1]):
    fields = line.rstrip("\n").split("\t")
    if len(fields) != 6:
        continue  # the program's own log lines
    file, level, est, loss, written, path = fields
    rows.setdefault(file, {})[level] = (est, loss, written, path)

kinds = OrderedDict((k, []) for k in ["video", "photo", "screenshot", "lineart"])
for file in rows:
    kinds.setdefault(os.path.basename(os.path.dirname(file)), []).append(file)

out = []
for kind, files in kinds.items():
    if not files:
        continue
    out.append(f"\n### {kind} ({len(files)} files)\n")
    if kind == "video":
        out.append("| file | source KiB | level | estimated KiB | written KiB | estimated / written |")
        out.append("|---|---:|---|---:|---:|---:|")
    else:
        out.append("| file | source KiB | level | estimated KiB | written KiB | estimated loss % | measured loss % | difference |")
        out.append("|---|---:|---|---:|---:|---:|---:|---:|")
    worst_ratio, worst_diff, promised_refused, missed, inversions, n = 0.0, 0.0, 0, 0, 0, 0
    for file in files:
        size = os.path.getsize(file)
        name = os.path.basename(file)
        last_loss = None
        for level in LEVELS:
            est, loss, written, path = rows[file].get(level, ("-", "-", "refused", "-"))
            w = int(written) if written != "refused" else None
            if est != "-" and w is None:
                promised_refused += 1
            if est == "-" and w is not None and w < size * 0.98:
                missed += 1
            cells = [name, kib(size), level, kib(int(est)) if est != "-" else "none", kib(w) if w is not None else "refused"]
            if kind == "video":
                if est != "-" and w:
                    ratio = int(est) / w
                    worst_ratio = max(worst_ratio, abs(ratio - 1))
                    cells.append(f"{ratio:.2f}")
                else:
                    cells.append("agrees" if (est == "-") == (w is None or w >= size * 0.98) else "DISAGREES")
            else:
                measured = ffmpeg_loss(file, path) if path != "-" else None
                el = float(loss) if loss != "-" else None
                diff = ""
                if el is not None and measured is not None:
                    d = el - measured
                    worst_diff = max(worst_diff, abs(d))
                    diff = f"{d:+.2f}"
                    n += 1
                if el is not None:
                    if last_loss is not None and el < last_loss:
                        inversions += 1
                    last_loss = el
                cells += [f"{el:.2f}" if el is not None else "-", f"{measured:.2f}" if measured is not None else "-", diff]
            if path != "-" and os.path.exists(path):
                os.remove(path)
            out.append("| " + " | ".join(cells) + " |")
    if kind == "video":
        out.append(f"\nLargest size error {worst_ratio * 100:.1f} %; levels estimated but refused: {promised_refused}; "
                   f"levels saving 2 % or more but not estimated: {missed}.")
    else:
        out.append(f"\nLargest loss difference {worst_diff:.2f} points over {n} levels; smaller levels estimated "
                   f"as less lossy: {inversions}; levels estimated but refused: {promised_refused}.")
print("\n".join(out))
