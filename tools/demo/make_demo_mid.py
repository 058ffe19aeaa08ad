#!/usr/bin/env python3
"""Writes demo/demo.mid, Tolvek's demo piece: a slow progression of chords with
the pedal, a melody on top and a little pitch bend. Deterministic; run with
/usr/bin/python3 tools/demo/make_demo_mid.py from the project root."""
import os
import struct

TICKS = 480           # per quarter note
TEMPO_US = 750000     # 80 bpm


def vlq(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.insert(0, (value & 0x7F) | 0x80)
        value >>= 7
    return bytes(out)


def track(events):
    """events: list of (tick, bytes); returns an MTrk chunk."""
    events = sorted(events, key=lambda e: (e[0], e[2] if len(e) > 2 else 0))
    data = bytearray()
    now = 0
    for ev in events:
        tick, msg = ev[0], ev[1]
        data += vlq(tick - now) + msg
        now = tick
    data += vlq(0) + b"\xff\x2f\x00"
    return b"MTrk" + struct.pack(">I", len(data)) + bytes(data)


def note(events, start, length, key, velocity, channel=0):
    events.append((start, bytes([0x90 | channel, key, velocity]), 1))
    events.append((start + length, bytes([0x80 | channel, key, 0]), 0))


def main():
    bar = 4 * TICKS
    events = [(0, b"\xff\x51\x03" + TEMPO_US.to_bytes(3, "big"), -1)]
    # ii - V - I - vi in F, voiced as open four-note chords, two bars each round.
    progression = [
        [50, 57, 60, 64],   # Gm9-ish
        [48, 55, 58, 64],   # C9
        [41, 57, 60, 64],   # Fmaj7
        [50, 57, 62, 65],   # Dm7
        [46, 57, 60, 65],   # Bbmaj7
        [48, 58, 62, 64],   # C9/Bb
        [41, 57, 60, 64],   # Fmaj7
        [41, 57, 60, 65],   # F
    ]
    for i, chord in enumerate(progression):
        start = i * bar
        events.append((start, bytes([0xB0, 64, 0]), -1))          # pedal up
        events.append((start + 20, bytes([0xB0, 64, 127]), 2))    # pedal down after the change
        for k, key in enumerate(chord):
            note(events, start + k * 12, bar - 60, key, 62 + 6 * k)
    melody = [
        (0, 2, 72), (2, 1, 74), (3, 1, 76), (4, 3, 77), (7, 1, 76),
        (8, 2, 74), (10, 2, 72), (12, 4, 69),
        (16, 2, 72), (18, 1, 74), (19, 1, 77), (20, 3, 81), (23, 1, 79),
        (24, 2, 77), (26, 1, 76), (27, 1, 74), (28, 4, 77),
    ]
    for beat, beats, key in melody:
        note(events, beat * TICKS, beats * TICKS - 40, key, 96 if beats > 1 else 84)
    # A slow bend up and back on the long high note.
    for step in range(17):
        value = 8192 + int(1200 * (1 - abs(step - 8) / 8))
        events.append((20 * TICKS + 240 + step * 40, bytes([0xE0, value & 0x7F, value >> 7]), 3))
    events.append((len(progression) * bar, bytes([0xB0, 64, 0]), 0))

    chunk = track(events)
    header = b"MThd" + struct.pack(">IHHH", 6, 0, 1, TICKS)
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    os.makedirs(os.path.join(root, "demo"), exist_ok=True)
    with open(os.path.join(root, "demo", "demo.mid"), "wb") as f:
        f.write(header + chunk)


if __name__ == "__main__":
    main()
