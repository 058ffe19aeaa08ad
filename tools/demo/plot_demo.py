#!/usr/bin/env python3
"""Draws the waveform and spectrogram of a rendered WAV (default: demo.wav) into
docs/demo.png. Run with /usr/bin/python3 tools/demo/plot_demo.py [IN.wav] [OUT.png]."""
import sys
import wave

import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt
import numpy as np


def read_wav(path):
    with wave.open(path, "rb") as w:
        rate, channels, width, frames = w.getframerate(), w.getnchannels(), w.getsampwidth(), w.getnframes()
        raw = w.readframes(frames)
    if width == 2:
        data = np.frombuffer(raw, dtype="<i2").astype(np.float64) / 32768.0
    elif width == 3:
        b = np.frombuffer(raw, dtype=np.uint8).reshape(-1, 3).astype(np.int32)
        v = b[:, 0] | (b[:, 1] << 8) | (b[:, 2] << 16)
        v = np.where(v >= 1 << 23, v - (1 << 24), v)
        data = v.astype(np.float64) / float(1 << 23)
    else:
        raise SystemExit(f"{path}: only 16- and 24-bit PCM are drawn")
    return rate, data.reshape(-1, channels)[:, 0]


def main():
    src = sys.argv[1] if len(sys.argv) > 1 else "demo.wav"
    dst = sys.argv[2] if len(sys.argv) > 2 else "docs/demo.png"
    rate, x = read_wav(src)
    t = np.arange(len(x)) / rate
    fig, (a, b) = plt.subplots(2, 1, figsize=(10, 5.5), sharex=True, gridspec_kw={"height_ratios": [1, 2]})
    a.plot(t, x, linewidth=0.3, color="#b05a18")
    a.set_ylim(-1, 1)
    a.set_ylabel("level")
    a.set_title("Tolvek demo: waveform and spectrogram")
    b.specgram(x, NFFT=2048, Fs=rate, noverlap=1536, cmap="magma", vmin=-120)
    b.set_ylim(0, 8000)
    b.set_ylabel("Hz")
    b.set_xlabel("seconds")
    fig.tight_layout()
    fig.savefig(dst, dpi=100)


if __name__ == "__main__":
    main()
