#!/usr/bin/python3
"""Plots the scale table that bench_plugin_peers writes (axis,value,voices,rtf)
as docs/performance.png: CPU cost per second of audio against sounding voices,
against the sample rate and against the block size.

    /usr/bin/python3 bench/plot_performance.py [CSV] [PNG]

Defaults: build-perf/bench/performance.csv and docs/performance.png.
"""

import csv
import os
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def read_rows(path):
    rows = {}
    with open(path, newline="") as f:
        for row in csv.DictReader(f):
            rows.setdefault(row["axis"], []).append(
                (float(row["value"]), float(row["voices"]), float(row["rtf"])))
    return rows


def main():
    source = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build-perf", "bench", "performance.csv")
    target = sys.argv[2] if len(sys.argv) > 2 else os.path.join(ROOT, "docs", "performance.png")
    rows = read_rows(source)

    fig, axes = plt.subplots(1, 3, figsize=(13, 4.2))

    # Cost in milliseconds of CPU per second of audio: linear growth shows as a line.
    voices = rows.get("voices", [])
    ax = axes[0]
    ax.plot([v for _, v, _ in voices], [1000.0 / r for _, _, r in voices], "o-", color="tab:blue")
    for _, v, r in voices:
        ax.annotate(f"{r:.0f}x", (v, 1000.0 / r), textcoords="offset points", xytext=(4, -12), fontsize=8)
    ax.set_xlabel("sounding voices (to 64: main voices; 128: with their tine voices)")
    ax.set_ylabel("CPU ms per second of audio")
    ax.set_title("Voices (48 kHz, blocks of 512)")
    ax.grid(True, alpha=0.3)

    rates = rows.get("rate", [])
    ax = axes[1]
    ax.plot([x / 1000.0 for x, _, _ in rates], [1000.0 / r for _, _, r in rates], "o-", color="tab:orange")
    for x, _, r in rates:
        ax.annotate(f"{r:.0f}x", (x / 1000.0, 1000.0 / r), textcoords="offset points", xytext=(4, -12), fontsize=8)
    ax.set_xlabel("sample rate (kHz)")
    ax.set_title("Sample rate (dense passage, blocks of 512)")
    ax.grid(True, alpha=0.3)

    blocks = rows.get("block", [])
    ax = axes[2]
    ax.plot([x for x, _, _ in blocks], [1000.0 / r for _, _, r in blocks], "o-", color="tab:green")
    for x, _, r in blocks:
        ax.annotate(f"{r:.0f}x", (x, 1000.0 / r), textcoords="offset points", xytext=(4, -12), fontsize=8)
    ax.set_xscale("log", base=2)
    ax.set_xlabel("block size (samples)")
    ax.set_title("Block size (dense passage, 48 kHz)")
    ax.set_ylim(bottom=0)
    ax.grid(True, alpha=0.3)

    for ax in axes[:2]:
        ax.set_ylim(bottom=0)
        ax.set_xlim(left=0)
    fig.suptitle("Tolvek, every effect on (cabinet 3): CPU cost, labels give the real-time factor")
    fig.tight_layout()
    fig.savefig(target, dpi=100)
    print(f"wrote {target}")


if __name__ == "__main__":
    main()
