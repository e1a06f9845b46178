#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Turns a WWVB reception log into the audio a receiver would hand the sound card.

The log (one line a second, as kept in tests/data/wwvb_observatory) is what a 60 kHz receiver
chip demodulated off the air: the second's label in TAI, then 50 samples 20 ms apart, '#' for
the full carrier and '_' for the reduced one. Each sample becomes 20 ms of a keyed tone: the full
level for '#', the station's reduced carrier (-17 dB, 0.141 of the full amplitude) for '_'. A
second missing from the log is written as silence, so the audio keeps the log's time base. The
chip's own delay (50 to 100 ms) stays in: it is part of what was received.

Usage: observatory_audio.py LOG[.xz] OUT.wav [--rate HZ] [--tone HZ] [--level FRACTION]
Prints the UTC time of the first sample (TAI - 37 s, the offset since 2017) as
YYYY-MM-DDTHH:MM:SSZ.
"""
import argparse
import datetime
import lzma
import math
import struct
import sys
import wave

TAI_MINUS_UTC = 37  # seconds, from 2017-01-01 until at least 2026
REDUCED = 10 ** (-17 / 20)


def read_log(path):
    opener = lzma.open if path.endswith(".xz") else open
    seconds = []
    with opener(path, "rt") as f:
        for n, line in enumerate(f, 1):
            parts = line.split()
            if len(parts) != 4 or parts[2] not in ("TAI", "UTC"):
                raise ValueError(f"{path}:{n}: not a reception line: {line.strip()!r}")
            label = datetime.datetime.strptime(parts[0] + " " + parts[1], "%Y-%m-%d %H:%M:%S")
            if parts[2] == "TAI":
                label -= datetime.timedelta(seconds=TAI_MINUS_UTC)
            marks = parts[3].replace("|", "")
            if len(marks) != 50 or set(marks) - {"#", "_"}:
                raise ValueError(f"{path}:{n}: expected 50 samples of '#' or '_'")
            seconds.append((label, marks))
    if not seconds:
        raise ValueError(f"{path}: no reception lines")
    return seconds


def render(seconds, out, rate, tone, level):
    per_mark = rate // 50
    if per_mark * 50 != rate:
        raise ValueError("the rate must be a multiple of 50 Hz")
    start = seconds[0][0]
    frames = bytearray()
    phase_step = 2 * math.pi * tone / rate
    n = 0  # sample count from the first, so the tone runs on without a jump
    expected = start
    cache = {}

    def chunk(mark, first):
        # A 20 ms piece of the tone; cached when it holds whole cycles (1000 Hz at 8 kHz does).
        whole = (per_mark * tone) % rate == 0
        key = (mark, first % rate if not whole else 0)
        if whole and key in cache:
            return cache[key]
        a = level * (1.0 if mark == "#" else REDUCED) * 32767
        piece = b"".join(struct.pack("<h", int(round(a * math.sin(phase_step * (first + i)))))
                         for i in range(per_mark))
        if whole:
            cache[key] = piece
        return piece

    for label, marks in seconds:
        while expected < label:  # seconds the log lacks: no signal
            frames += bytes(2 * rate)
            n += rate
            expected += datetime.timedelta(seconds=1)
        if label < expected:
            continue  # a repeated label: the first one stands
        for m in marks:
            frames += chunk(m, n)
            n += per_mark
        expected = label + datetime.timedelta(seconds=1)
    with wave.open(out, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(bytes(frames))
    return start


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("log")
    p.add_argument("out")
    p.add_argument("--rate", type=int, default=8000)
    p.add_argument("--tone", type=float, default=1000.0)
    p.add_argument("--level", type=float, default=0.25)
    a = p.parse_args()
    try:
        start = render(read_log(a.log), a.out, a.rate, a.tone, a.level)
    except (OSError, ValueError, EOFError, lzma.LZMAError) as e:
        print(f"observatory_audio: {e}", file=sys.stderr)
        return 1
    print(start.strftime("%Y-%m-%dT%H:%M:%SZ"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
