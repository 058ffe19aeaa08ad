#!/usr/bin/python3
"""Plots zones written by `tolvek-make-sets OUTDIR --wav WAVDIR`.

    plot_zone.py OUT.png WAVDIR/suitcase_r058_v127.wav [more.wav ...]

One row per zone: the whole zone with its loop shaded, the first 30 ms, and
the spectrum of the strike (first 0.1 s), the middle and the loop.
"""
import struct
import sys

import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt
import numpy as np


def read_zone(path):
    """16-bit mono samples, rate and loop (start, end) from a WAV with a smpl chunk."""
    data = open(path, "rb").read()
    pos, rate, samples, loop = 12, 44100, None, None
    while pos + 8 <= len(data):
        tag, size = data[pos:pos + 4], struct.unpack("<I", data[pos + 4:pos + 8])[0]
        body = data[pos + 8:pos + 8 + size]
        if tag == b"fmt ":
            rate = struct.unpack("<I", body[4:8])[0]
        elif tag == b"data":
            samples = np.frombuffer(body, dtype="<i2").astype(float)
        elif tag == b"smpl" and struct.unpack("<I", body[28:32])[0] > 0:
            start, end = struct.unpack("<II", body[44:52])
            loop = (start, end)
        pos += 8 + size + (size & 1)
    return samples, rate, loop


def spectrum_db(segment, rate):
    window = np.hanning(len(segment))
    magnitude = np.abs(np.fft.rfft(segment * window)) + 1e-9
    return np.fft.rfftfreq(len(segment), 1.0 / rate), 20 * np.log10(magnitude)


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    out, paths = sys.argv[1], sys.argv[2:]
    fig, axes = plt.subplots(len(paths), 3, figsize=(16, 3 * len(paths)), squeeze=False)
    for row, path in zip(axes, paths):
        x, rate, loop = read_zone(path)
        t = np.arange(len(x)) / rate
        row[0].plot(t, x, lw=0.3)
        if loop:
            row[0].axvspan(loop[0] / rate, loop[1] / rate, color="orange", alpha=0.3)
        row[0].set_title(path.split("/")[-1])
        first = int(0.03 * rate)
        row[1].plot(t[:first] * 1000, x[:first], lw=0.6)
        row[1].set_xlabel("ms")
        parts = [(0, int(0.1 * rate), "strike"), (len(x) // 2, len(x) // 2 + int(0.1 * rate), "middle")]
        if loop:
            parts.append((loop[0], loop[1], "loop"))
        for start, end, label in parts:
            if end - start >= 64:
                f, db = spectrum_db(x[start:end], rate)
                row[2].plot(f, db - db.max(), lw=0.5, label=label)
        row[2].set_xscale("log")
        row[2].set_xlim(20, rate / 2)
        row[2].set_ylim(-100, 5)
        row[2].legend(fontsize=7)
    fig.tight_layout()
    fig.savefig(out, dpi=70)


if __name__ == "__main__":
    main()
