#!/usr/bin/python3
"""Writes bench/dense_passage.mid, the benchmarks' dense passage, or, with
--program-variant PATH, only the same passage led by a program change 4 (for
renderers that need the electric-piano program chosen in the file).

40 s at 120 beats per minute: a four-note chord low in the left hand on every
beat, a five-note chord in the middle on every second beat and sixteenth-note
runs over the upper keyboard. The pedal is down throughout and re-taken every
four seconds (up for a quarter of a second), so the held notes fill more than 64
voices before each re-take. A fixed linear-congruential generator picks
velocities and the shape of the runs: the file is the same on every run.

    /usr/bin/python3 bench/make_dense_passage.py [--program-variant PATH]
"""

import os
import struct
import sys

TICKS_PER_BEAT = 480
TEMPO_US = 500000          # 120 beats per minute
TICKS_PER_SECOND = 960
SECONDS = 40


class Lcg:
    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFF

    def next(self, n):
        self.state = (self.state * 1664525 + 1013904223) & 0xFFFFFFFF
        return (self.state >> 16) % n


def passage_events():
    """(tick, order, bytes) of every channel message; order keeps offs before ons at a tick."""
    rng = Lcg(20261211)
    events = []

    def note(start, length, key, velocity):
        events.append((start, 1, bytes([0x90, key, velocity])))
        events.append((start + length, 0, bytes([0x80, key, 0])))

    end = SECONDS * TICKS_PER_SECOND
    # Pedal down from the start, re-taken every four seconds.
    events.append((0, 2, bytes([0xB0, 64, 127])))
    for retake in range(4 * TICKS_PER_SECOND, end, 4 * TICKS_PER_SECOND):
        events.append((retake, 0, bytes([0xB0, 64, 0])))
        events.append((retake + TICKS_PER_SECOND // 4, 2, bytes([0xB0, 64, 127])))

    roots = [36, 41, 43, 38, 45, 40, 43, 36]  # a bar each, 2 s
    for beat in range(SECONDS * 2):
        tick = beat * TICKS_PER_BEAT
        root = roots[(beat // 4) % len(roots)]
        for interval in (0, 7, 12, 16):
            note(tick, TICKS_PER_BEAT - 20, root + interval, 60 + rng.next(40))
        if beat % 2 == 0:
            for interval in (24, 28, 31, 34, 36):
                note(tick + 10, 2 * TICKS_PER_BEAT - 40, root + interval, 55 + rng.next(45))
        # Four sixteenths per beat, running up or down over two octaves.
        upward = rng.next(2) == 0
        base = 60 + rng.next(12)
        for k in range(4):
            step = (beat % 4) * 4 + k
            key = base + (step * 3 if upward else 24 - step * 3) % 30
            note(tick + k * TICKS_PER_BEAT // 4, TICKS_PER_BEAT // 4, key, 70 + rng.next(50))
    events.sort(key=lambda e: (e[0], e[1], e[2]))
    return events


def variable_length(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(out))


def midi_file(events, program=None):
    track = bytearray()
    track += variable_length(0) + b"\xFF\x51\x03" + TEMPO_US.to_bytes(3, "big")
    if program is not None:
        track += variable_length(0) + bytes([0xC0, program])
    last = 0
    for tick, _, message in events:
        track += variable_length(tick - last) + message
        last = tick
    track += variable_length(0) + b"\xFF\x2F\x00"
    header = b"MThd" + struct.pack(">IHHH", 6, 0, 1, TICKS_PER_BEAT)
    return header + b"MTrk" + struct.pack(">I", len(track)) + bytes(track)


def main():
    events = passage_events()
    # The variant alone, so that a benchmark run leaves the committed file untouched.
    if len(sys.argv) == 3 and sys.argv[1] == "--program-variant":
        with open(sys.argv[2], "wb") as f:
            f.write(midi_file(events, program=4))
    elif len(sys.argv) == 1:
        here = os.path.dirname(os.path.abspath(__file__))
        with open(os.path.join(here, "dense_passage.mid"), "wb") as f:
            f.write(midi_file(events))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
