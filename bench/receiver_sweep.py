#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Where each station decodes behind receivers as they are: varnol-signal writes a recording
through the simulated receiver's models (tone, level, sample rate, AGC, band-pass width,
static, fading across the minute), varnol-decode reads it with no option but the station and
the PC clock at the first sample ("out of the box"), and every clock write is checked against
the true minute. One axis moves at a time from a plain receiver (tone 1000 Hz, the default
level, 8000 samples a second, no AGC, no filter); the files' header rate is their true rate,
as a recorder's is. Runs on any build: what it measures is the decoding side as built.

Usage: bench/receiver_sweep.py [BUILD_DIR] [MINUTES] [STATION ...]
       (defaults: build, 6, msf hbg dcf77 wwvb vng rwm wwv)
Prints one line per station and setting: the clock writes that named the true minute, those
that did not, and the writes possible (every minute after the second marker); then the
totals per station. Exits 0 whatever it measured.
"""
import datetime
import json
import os
import subprocess
import sys
import tempfile

START = datetime.datetime(2026, 12, 7, 13, 5, tzinfo=datetime.timezone.utc)
# One axis at a time: (axis, value shown, varnol-signal options). Each receiver is the plain
# one with these options added.
SETTINGS = (
    [("plain", "-", [])]
    + [("tone", f"{hz} Hz", ["--tone", str(hz)]) for hz in (300, 500, 747, 1500, 2000, 3000)]
    + [("level", f"{lv}", ["--level", str(lv)]) for lv in (0.01, 0.03, 0.1, 0.3, 1.0)]
    + [("rate", f"{r} Hz", ["--rate", str(r)]) for r in (11025, 16000, 22050, 44100, 48000)]
    + [("agc", f"{s} s", ["--agc", str(s), "--level", "0.25"]) for s in (0.5, 2, 10)]
    + [("filter", f"{w} Hz", ["--filter", str(w)]) for w in (100, 250, 500, 3000)]
    + [("carrier", "real", ["--carrier", "real"]),
       ("static", "6/min", ["--static", "6"]),
       ("fading", "0.6, 37 s", ["--fade", "0.6", "--fade-period", "37"]),
       ("web rx", "747 Hz 0.25 agc", ["--tone", "747", "--level", "0.25", "--agc", "5", "--filter", "500",
                                      "--carrier", "real", "--rate", "7119"])]
)


def true_minute(t):
    """The minute in progress t seconds of true time after the start, as a clock write names it."""
    at = START + datetime.timedelta(seconds=t)
    return at.strftime("%Y-%m-%dT%H:%M:01Z")


def run(build, station, minutes, options, folder):
    wav = os.path.join(folder, "sweep.wav")
    # The header rate is the true rate: a card (or recorder) whose clock is exact.
    signal = [os.path.join(build, "varnol-signal"), "--station", station, "--start", START.strftime("%Y-%m-%dT%H:%M:%SZ"),
              "--minutes", str(minutes), "--card-blocks-per-minute", "3750", "--output", wav] + options
    made = subprocess.run(signal, capture_output=True, text=True)
    if made.returncode != 0:
        return None, made.stderr.strip().splitlines()[0]
    decode = [os.path.join(build, "varnol-decode"), "--input", wav, "--station", station,
              "--clock", START.strftime("%Y-%m-%dT%H:%M:%SZ"), "--json"]
    out = subprocess.run(decode, capture_output=True, text=True)
    right = wrong = 0
    for line in out.stdout.splitlines():
        try:
            e = json.loads(line)
        except json.JSONDecodeError:
            continue
        if e.get("event") == "clock":
            # t counts seconds of the file's own (true) time
            if e["utc"] == true_minute(e["t"]):
                right += 1
            else:
                wrong += 1
    return (right, wrong), ""


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
    minutes = int(sys.argv[2]) if len(sys.argv) > 2 else 6
    stations = sys.argv[3:] or ["msf", "hbg", "dcf77", "wwvb", "vng", "rwm", "wwv", "jjy"]
    # minutes from 13:05:00: markers at 13:06, 13:07, ...; writes from the second one on
    possible = max(minutes - 2, 0)
    print(f"{'station':7} {'axis':8} {'setting':16} {'right':>5} {'wrong':>5}  (of {possible} possible, "
          f"{minutes} minutes)")
    with tempfile.TemporaryDirectory() as folder:
        for station in stations:
            total_right = total_wrong = runs = full = 0
            for axis, shown, options in SETTINGS:
                counts, why = run(build, station, minutes, options, folder)
                if counts is None:
                    print(f"{station:7} {axis:8} {shown:16} {'-':>5} {'-':>5}  {why}")
                    continue
                right, wrong = counts
                total_right += right
                total_wrong += wrong
                runs += 1
                full += 1 if right >= possible and wrong == 0 else 0
                print(f"{station:7} {axis:8} {shown:16} {right:5d} {wrong:5d}", flush=True)
            print(f"{station:7} {'total':8} {'':16} {total_right:5d} {total_wrong:5d}  "
                  f"({full} of {runs} settings decode every minute with none wrong)", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
