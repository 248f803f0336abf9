#!/usr/bin/env python3
"""Prints the benchmark rows of Google Benchmark JSON files as one table.

A row's figures come from the benchmarks "<row>|ours" and "<row>|peer". Where a benchmark reports
items per second, the table shows that rate and the ratio ours/peer (higher is better); otherwise
it shows the time per iteration and the ratio ours/peer (lower is better).
"""
import json
import sys


def fmt_rate(v):
    for div, unit in ((1e9, "G/s"), (1e6, "M/s"), (1e3, "k/s")):
        if v >= div:
            return f"{v / div:.2f} {unit}"
    return f"{v:.1f} /s"


def fmt_time(ns):
    for div, unit in ((1e9, "s"), (1e6, "ms"), (1e3, "us")):
        if ns >= div:
            return f"{ns / div:.2f} {unit}"
    return f"{ns:.1f} ns"


def to_ns(b):
    scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b.get("time_unit", "ns")]
    return b["real_time"] * scale


rows = {}
order = []
for path in sys.argv[1:]:
    try:
        with open(path) as f:
            data = json.load(f)
    except (OSError, ValueError):
        continue  # a benchmark program whose filter matched nothing writes no JSON
    for b in data.get("benchmarks", []):
        if b.get("run_type") == "aggregate" or "|" not in b["name"]:
            continue
        row, side = b["name"].rsplit("|", 1)
        side = side.split("/")[0]
        if row not in rows:
            rows[row] = {}
            order.append(row)
        rows[row][side] = b

header = ("what is measured", "ours", "peer", "ratio", "goal")
lines = []
for row in order:
    ours, peer = rows[row].get("ours"), rows[row].get("peer")
    goal = (ours or peer or {}).get("label", "")
    # A goal stated in time compares time per iteration, even where a rate is reported too.
    rate = ours is not None and "items_per_second" in ours and "time" not in goal
    if rate:
        o = ours["items_per_second"]
        p = peer.get("items_per_second") if peer else None
        cells = (fmt_rate(o), fmt_rate(p) if p else "-", f"{o / p:.2f}x rate" if p else "-")
    else:
        o = to_ns(ours) if ours else None
        p = to_ns(peer) if peer else None
        cells = (fmt_time(o) if o else "-", fmt_time(p) if p else "-",
                 f"{o / p:.2f}x time" if o and p else "-")
    # Counters named "qv_<what>" are extra figures of a row (ours vs peer), shown after the goal.
    extra = ", ".join(f"{k[3:]} {v:.2f}" + (f" vs {peer[k]:.2f}" if peer and k in peer else "")
                      for k, v in sorted((ours or {}).items()) if k.startswith("qv_"))
    lines.append((row,) + cells + (goal + (f" [{extra}]" if extra else ""),))

widths = [max(len(str(r[i])) for r in lines + [header]) for i in range(5)]
sep = "-+-".join("-" * w for w in widths)
print(" | ".join(h.ljust(w) for h, w in zip(header, widths)))
print(sep)
for r in lines:
    print(" | ".join(str(c).ljust(w) for c, w in zip(r, widths)))
