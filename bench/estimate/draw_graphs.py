#!/usr/bin/env python3
"""Draws line art and graphs with ImageMagick into the folder given: line plots, bar charts,
a scatter plot, diagrams and pen drawings on white, saved as JPEG at a few qualities."""
import math
import random
import subprocess
import sys
from pathlib import Path

out = Path(sys.argv[1])
rng = random.Random(38)


def save(name, width, height, mvg, quality):
    subprocess.run(["convert", "-size", f"{width}x{height}", "xc:white", "-font", "DejaVu-Sans", "-draw", " ".join(mvg),
                    "-quality", str(quality), str(out / (name + ".jpg"))], check=True)


def axes(width, height, grid):
    m = []
    m.append("stroke '#c8c8c8' stroke-width 1 fill none")
    for i in range(1, grid):
        x = 60 + (width - 80) * i // grid
        y = 20 + (height - 60) * i // grid
        m.append(f"line {x},20 {x},{height - 40}")
        m.append(f"line 60,{y} {width - 20},{y}")
    m.append("stroke black stroke-width 2")
    m.append(f"line 60,{height - 40} {width - 20},{height - 40}")
    m.append(f"line 60,20 60,{height - 40}")
    m.append("stroke none fill black font-size 13")
    for i in range(grid + 1):
        x = 60 + (width - 80) * i // grid
        m.append(f"text {x - 8},{height - 20} '{i * 10}'")
    return m


def line_plot(name, width, height, series, quality, smooth):
    m = axes(width, height, 8)
    colours = ["#cc0000", "#0044cc", "#008800", "#aa6600", "#7700aa"]
    for s in range(series):
        pts = []
        v = rng.uniform(0.3, 0.7)
        for i in range(200):
            x = 60 + (width - 80) * i / 199
            v = min(1, max(0, v + rng.gauss(0, 0.06 if not smooth else 0.0) + (0.02 * math.sin(i / (7 + s * 3)) if smooth else 0)))
            y = 20 + (height - 60) * (1 - v)
            pts.append(f"{x:.1f},{y:.1f}")
        m.append(f"stroke '{colours[s]}' stroke-width {1 + s % 2} fill none")
        m.append("polyline " + " ".join(pts))
    save(name, width, height, m, quality)


def bar_chart(name, width, height, bars, quality):
    m = axes(width, height, 5)
    step = (width - 100) / bars
    for i in range(bars):
        v = rng.uniform(0.1, 0.95)
        x = 70 + i * step
        y = 20 + (height - 60) * (1 - v)
        m.append(f"stroke black stroke-width 1 fill '{['#4477aa', '#ee6677', '#228833'][i % 3]}'")
        m.append(f"rectangle {x:.1f},{y:.1f} {x + step * 0.7:.1f},{height - 40}")
    save(name, width, height, m, quality)


def scatter(name, width, height, points, quality):
    m = axes(width, height, 6)
    m.append("stroke '#003366' stroke-width 1 fill none")
    for _ in range(points):
        x = rng.uniform(70, width - 30)
        y = 20 + (height - 60) * (1 - min(1, max(0, (x - 70) / (width - 100) + rng.gauss(0, 0.12))))
        m.append(f"circle {x:.1f},{y:.1f} {x + 3:.1f},{y:.1f}")
    save(name, width, height, m, quality)


def diagram(name, width, height, boxes, quality):
    m = ["stroke black stroke-width 2 fill none font-size 14"]
    centres = []
    for i in range(boxes):
        x = rng.randint(20, width - 180)
        y = rng.randint(20, height - 80)
        m.append("stroke black fill '#fffbe6'")
        m.append(f"roundrectangle {x},{y} {x + 160},{y + 56} 10,10")
        m.append("stroke none fill black")
        m.append(f"text {x + 14},{y + 34} 'step {i + 1}: process'")
        centres.append((x + 80, y + 28))
    m.append("stroke '#333333' stroke-width 1.5 fill none")
    for a, b in zip(centres, centres[1:]):
        m.append(f"line {a[0]},{a[1]} {b[0]},{b[1]}")
    save(name, width, height, m, quality)


def pen_drawing(name, width, height, strokes, quality):
    m = ["stroke black fill none"]
    for _ in range(strokes):
        x, y = rng.uniform(0, width), rng.uniform(0, height)
        pts = []
        for _ in range(30):
            x = min(width, max(0, x + rng.gauss(0, 12)))
            y = min(height, max(0, y + rng.gauss(0, 12)))
            pts.append(f"{x:.1f},{y:.1f}")
        m.append(f"stroke-width {rng.choice([0.8, 1, 1.5, 2.5])}")
        m.append("polyline " + " ".join(pts))
    save(name, width, height, m, quality)


line_plot("plot-noisy", 1000, 300, 1, 90, False)
line_plot("plot-three-series", 1200, 700, 3, 85, False)
line_plot("plot-smooth", 800, 600, 2, 92, True)
line_plot("plot-wide", 1600, 400, 5, 75, False)
bar_chart("bars-12", 900, 600, 12, 90)
bar_chart("bars-40", 1400, 800, 40, 80)
scatter("scatter", 1000, 800, 400, 90)
diagram("diagram", 1200, 900, 9, 92)
pen_drawing("pen-sparse", 1000, 1000, 20, 90)
pen_drawing("pen-dense", 1500, 1100, 160, 85)
