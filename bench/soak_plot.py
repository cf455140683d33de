#!/usr/bin/python3
"""Draws the figures of bench_soak runs as one small SVG: resident memory
and open descriptors/handles against the cycle, one line per run.

    bench/soak_plot.py OUT.svg LABEL=FILE [LABEL=FILE ...]

FILE is what bench_soak printed (scripts/bench soak keeps it as
soak-<build>.txt in the bench folder). Standard library only.
"""
import re
import sys

LINE = re.compile(r"^cycle\s+(\d+)\s+resident\s+(\d+) KB\s+(\w+)\s+(-?\d+)\s+threads\s+(-?\d+)")
COLOURS = ["#1f5fbf", "#c0392b", "#2e8b57", "#8e44ad"]
W, H, PAD_L, PAD_R, PAD_T, PAD_B, GAP = 640, 360, 64, 16, 28, 36, 40


def read(path):
    rows = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            m = LINE.match(line)
            if m:
                rows.append((int(m[1]), int(m[2]) / 1024.0, m[3], int(m[4]), int(m[5])))
    if not rows:
        sys.exit("%s: no cycle lines" % path)
    return rows


def nice(lo, hi):
    """A range around lo..hi that is never flat."""
    if hi - lo < 1:
        mid = (hi + lo) / 2
        return mid - 1, mid + 1
    pad = (hi - lo) * 0.1
    return lo - pad, hi + pad


def panel(out, top, height, title, runs, pick, unit):
    x0, x1 = PAD_L, W - PAD_R
    y0, y1 = top, top + height
    last = max(r[-1][0] for _, r in runs) or 1
    values = [pick(row) for _, r in runs for row in r]
    lo, hi = nice(min(values), max(values))
    sx = lambda c: x0 + (x1 - x0) * c / last
    sy = lambda v: y1 - (y1 - y0) * (v - lo) / (hi - lo)
    out.append('<rect x="%d" y="%d" width="%d" height="%d" fill="none" stroke="#888"/>' % (x0, y0, x1 - x0, y1 - y0))
    out.append('<text x="%d" y="%d" font-size="12">%s</text>' % (x0, y0 - 6, title))
    for v in (lo, (lo + hi) / 2, hi):
        out.append('<text x="%d" y="%.1f" font-size="10" text-anchor="end">%.1f%s</text>' % (x0 - 4, sy(v) + 3, v, unit))
    for c in (0, last // 2, last):
        out.append('<text x="%.1f" y="%d" font-size="10" text-anchor="middle">%d</text>' % (sx(c), y1 + 12, c))
    for i, (label, rows) in enumerate(runs):
        pts = " ".join("%.1f,%.1f" % (sx(r[0]), sy(pick(r))) for r in rows)
        colour = COLOURS[i % len(COLOURS)]
        out.append('<polyline fill="none" stroke="%s" stroke-width="1.5" points="%s"/>' % (colour, pts))


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    runs = []
    for arg in sys.argv[2:]:
        label, _, path = arg.partition("=")
        runs.append((label, read(path)))
    inner = (H - PAD_T - PAD_B - GAP) // 2
    out = ['<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" font-family="sans-serif">' % (W, H),
           '<rect width="100%" height="100%" fill="white"/>']
    panel(out, PAD_T, inner, "resident memory (MB) by cycle", runs, lambda r: r[1], "")
    panel(out, PAD_T + inner + GAP, inner, "open descriptors (Linux) / handles (Windows) by cycle", runs,
          lambda r: r[3], "")
    for i, (label, rows) in enumerate(runs):
        colour = COLOURS[i % len(COLOURS)]
        x = W - PAD_R - 150 * (len(runs) - i)
        out.append('<text x="%d" y="14" font-size="11" fill="%s">&#8212; %s</text>' % (x, colour, label))
    out.append("</svg>")
    with open(sys.argv[1], "w", encoding="utf-8") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
