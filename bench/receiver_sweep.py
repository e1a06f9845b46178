#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Where each station decodes behind receivers as they are: varnol-signal writes a recording
through the simulated receiver's models (tone, level, sample rate, AGC, filter width, static,
fading across the minute), varnol-decode reads it with no option but the station and the PC
clock at the first sample ("out of the box"), and every clock write is checked against the
true minute. One axis moves at a time from a plain receiver (tone 1000 Hz, the default level,
8000 samples a second, no AGC, no filter), then a few receivers with every axis at an edge at
once. Each file's header rate is the rate its samples were taken at, as a recorder's is.

The filter rows are the receiver's filter as each station is heard: a CW band-pass around the
tone for the keyed carriers (MSF, HBG, DCF77, WWVB, VNG, RWM), an AM filter around the carrier
for WWV, which is heard in AM on short wave (its code is the 100 Hz subcarrier of the AM
audio, which a CW filter around a beat tone would remove).

Usage: bench/receiver_sweep.py [BUILD_DIR] [MINUTES] [STATION ...]
       (defaults: build, 6, msf hbg dcf77 wwvb vng rwm wwv)
Prints one line per station and setting: the clock writes that named the true minute, those
that did not, and whether every minute after the second marker was written right with none
wrong; then the totals per station, and the table as Markdown (one column per station; "*"
marks a cell short of that). Static crashes and deep fading not locked to the minute are
measured and shown, but are not among the settings every minute must decode in. Exits 0
whatever it measured.
"""
import datetime
import json
import os
import subprocess
import sys
import tempfile

START = datetime.datetime(2026, 12, 7, 13, 5, tzinfo=datetime.timezone.utc)
AM_STATIONS = ("wwv", "wwvh", "chu")
CW_FILTERS = (100, 250, 500, 3000)   # Hz, a CW or SSB receiver's filters around the tone
AM_FILTERS = (2400, 4000, 6000, 9000)  # Hz, a short-wave receiver's AM filters around the carrier
REPORTED_ONLY = ("static", "fading")  # axes shown but not in the goal


def settings(station):
    """(axis, value shown, varnol-signal options) for one station. Each receiver is the plain one
    with these options added."""
    am = station in AM_STATIONS
    filters = AM_FILTERS if am else CW_FILTERS
    edge_filter = ["--filter", "2400"] if am else ["--filter", "100"]
    return (
        [("plain", "-", [])]
        + [("tone", f"{hz} Hz", ["--tone", str(hz)]) for hz in (300, 500, 747, 1500, 2000, 2500, 3000)]
        + [("level", f"{lv}", ["--level", str(lv)]) for lv in (0.01, 0.03, 0.1, 0.3, 0.5, 1.0)]
        + [("rate", f"{r} Hz", ["--rate", str(r)]) for r in (11025, 16000, 22050, 32000, 44100, 48000)]
        + [("agc", f"{s} s", ["--agc", str(s), "--level", "0.25"]) for s in (0.5, 2, 10)]
        + [("filter", f"{w} Hz" + (" AM" if am else ""), ["--filter", str(w)]) for w in filters]
        + [("carrier", "real", ["--carrier", "real"]),
           ("static", "6/min", ["--static", "6"]),
           ("web rx", "747 Hz 0.25 agc", ["--tone", "747", "--level", "0.25", "--agc", "5", "--filter",
                                          "9000" if am else "500", "--carrier", "real", "--rate", "7119"]),
           ("edges", "300 Hz 1.0 48k", ["--tone", "300", "--level", "1.0", "--rate", "48000", *edge_filter]),
           ("edges", "3000 Hz 1.0 agc", ["--tone", "3000", "--level", "1.0", "--agc", "0.5", "--rate", "11025"]),
           ("edges", "0.01 8k agc real", ["--level", "0.01", "--agc", "2", "--carrier", "real"]),
           ("fading", "0.6, 37 s", ["--fade", "0.6", "--fade-period", "37"])]
    )


def minute_name(t):
    """The minute in progress t seconds of true time after the start."""
    at = START + datetime.timedelta(seconds=t)
    return at.strftime("%Y-%m-%dT%H:%M")


def write_is_right(event):
    """A clock write is right when the time it writes lies within 2 s of the true time it was
    made at (the long-wave stations write second 01 just after their minute marker, CHU the
    second in the 30s where its two frames agreed)."""
    truth = START + datetime.timedelta(seconds=event["t"])
    written = datetime.datetime.fromisoformat(event["utc"].replace("Z", "+00:00"))
    return abs((written - truth).total_seconds()) <= 2.0


def run(build, station, minutes, options, folder):
    wav = os.path.join(folder, "sweep.wav")
    signal = [os.path.join(build, "varnol-signal"), "--station", station, "--start", START.strftime("%Y-%m-%dT%H:%M:%SZ"),
              "--minutes", str(minutes), "--output", wav] + options
    made = subprocess.run(signal, capture_output=True, text=True)
    if made.returncode != 0:
        return None, made.stderr.strip().splitlines()[0]
    decode = [os.path.join(build, "varnol-decode"), "--input", wav, "--station", station,
              "--clock", START.strftime("%Y-%m-%dT%H:%M:%SZ"), "--json"]
    out = subprocess.run(decode, capture_output=True, text=True)
    right, wrong = set(), 0
    for line in out.stdout.splitlines():
        try:
            e = json.loads(line)
        except json.JSONDecodeError:
            continue
        if e.get("event") == "clock":
            # t counts seconds of the file's own (true) time
            if write_is_right(e):
                right.add(minute_name(e["t"]))
            else:
                wrong += 1
    return (right, wrong), ""


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
    minutes = int(sys.argv[2]) if len(sys.argv) > 2 else 6
    stations = sys.argv[3:] or ["msf", "hbg", "dcf77", "wwvb", "vng", "rwm", "wwv", "jjy", "chu"]
    # Markers at 13:06, 13:07, ...; every minute from the second marker on is to be written.
    wanted = {minute_name(60 * m + 1) for m in range(2, minutes)}
    print(f"{'station':7} {'axis':8} {'setting':18} {'right':>5} {'wrong':>5}  every minute from the second "
          f"marker ({len(wanted)}), none wrong; {minutes} minutes")
    cells = {}  # (axis, shown) -> {station: text}
    rows = []
    with tempfile.TemporaryDirectory() as folder:
        for station in stations:
            total_right = total_wrong = full = goal = 0
            for axis, shown, options in settings(station):
                key = (axis, shown)
                if key not in cells:
                    # beside the rows of its axis (WWV's AM filters after the CW filters)
                    cells[key] = {}
                    same = [i for i, k in enumerate(rows) if k[0] == axis]
                    rows.insert(same[-1] + 1 if same else len(rows), key)
                counts, why = run(build, station, minutes, options, folder)
                if counts is None:
                    print(f"{station:7} {axis:8} {shown:18} {'-':>5} {'-':>5}  {why}")
                    cells[key][station] = "-"
                    continue
                right, wrong = counts
                ok = wanted <= right and wrong == 0
                total_right += len(right)
                total_wrong += wrong
                if axis not in REPORTED_ONLY:
                    goal += 1
                    full += 1 if ok else 0
                cells[key][station] = f"{len(right)}/{wrong}" + ("" if ok else " *")
                print(f"{station:7} {axis:8} {shown:18} {len(right):5d} {wrong:5d}  {'yes' if ok else 'NO'}", flush=True)
            print(f"{station:7} {'total':8} {'':18} {total_right:5d} {total_wrong:5d}  "
                  f"({full} of {goal} settings in the goal decode every minute with none wrong)", flush=True)
            cells.setdefault(("all", "(right/wrong)"), {})[station] = f"{total_right}/{total_wrong}"
    rows.append(("all", "(right/wrong)"))
    print()
    print("| axis | setting | " + " | ".join(s.upper() for s in stations) + " |")
    print("|---|---|" + "---|" * len(stations))
    for key in rows:
        print(f"| {key[0]} | {key[1]} | " + " | ".join(cells[key].get(s, "") for s in stations) + " |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
