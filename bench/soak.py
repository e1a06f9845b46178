#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Soak: a simulated day of every station through varnol-decode, at a realistic and a poor SNR.

For each station and condition it runs `varnol-decode --simulate ... --minutes 1440 --json` and
reports the clock writes, the wrong ones (a write further than TOLERANCE seconds from the
simulated broadcast's true time at that moment), the process's peak resident memory after one
simulated hour and at the end of the day, and its CPU time (user + system). Stations run one
after the other, so the figures are not disturbed by each other.

Usage: bench/soak.py [--decode PATH ...] [--minutes N] [--stations a,b,...]
                     [--conditions realistic,poor] [--robust-lock] [--markdown]
With --robust-lock the robust lock runs beside the loop (its guard refuses a write that
contradicts a confident lock); the writes it refused are counted apart, with the wrong ones
among them, and so are its "lock" events and the minutes it first locked after.
With several --decode programs (say, builds before and after a change) each station and
condition is run by each of them in turn, so that paired figures are finished together.

The simulated sound card runs at 3756 blocks of 128 samples a minute (8012.8 samples per second)
while the event stamps count 8000 samples per second, so the true time of an event stamped t
is start + t * 8000 / 8012.8 seconds.
"""
import argparse
import datetime as dt
import json
import os
import subprocess
import sys
import tempfile

START = "2026-12-07T13:05:00Z"
STATIONS = ["msf", "hbg", "dcf77", "wwvb", "vng", "rwm", "wwv", "jjy"]
CONDITIONS = [
    ("realistic", ["--snr", "3"]),
    ("poor", ["--snr", "-4", "--fade", "0.6"]),
]
SEED = "7"
CARD_RATE = 3756 * 128 / 60.0  # samples per second of the simulated card
TOLERANCE = 5.0  # seconds; a right write lands about 1 s after the minute it names


def peak_rss_kib(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def soak(decode, station, extra, minutes, robust_lock=False):
    start = dt.datetime.fromisoformat(START.replace("Z", "+00:00")).timestamp()
    cmd = [decode, "--simulate", "--station", station, "--seed", SEED, "--start", START,
           "--minutes", str(minutes), "--json"] + extra + (["--robust-lock"] if robust_lock else [])
    writes = wrong = 0
    refused = refused_wrong = lock_events = 0
    first_lock_min = None
    worst = 0.0
    rss_1h = rss_day = None
    with tempfile.TemporaryDirectory() as folder:  # the snapshot lands here, not in the tree
        proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, text=True, cwd=folder)
        for line in proc.stdout:
            ev = json.loads(line)
            if rss_1h is None and ev["t"] >= 3600:
                rss_1h = peak_rss_kib(proc.pid)
            rss_day = peak_rss_kib(proc.pid) or rss_day
            if ev["event"] == "lock":
                lock_events += 1
                if first_lock_min is None and ev.get("state") in ("locked", "holdover"):
                    first_lock_min = ev["t"] * 8000.0 / CARD_RATE / 60.0
                continue
            if ev["event"] == "refused":
                truth = start + ev["t"] * 8000.0 / CARD_RATE
                written = dt.datetime.fromisoformat(ev["utc"].replace("Z", "+00:00")).timestamp()
                refused += 1
                refused_wrong += abs(written - truth) > TOLERANCE
                continue
            if ev["event"] != "clock":
                continue
            truth = start + ev["t"] * 8000.0 / CARD_RATE
            written = dt.datetime.fromisoformat(ev["utc"].replace("Z", "+00:00")).timestamp()
            error = written - truth
            writes += 1
            if abs(error) > TOLERANCE:
                wrong += 1
                worst = max(worst, abs(error))
        # (the child's own ru_maxrss would count the interpreter it was forked from)
        _, status, usage = os.wait4(proc.pid, 0)
        proc.returncode = 0  # reaped above
        if status != 0:
            sys.exit(f"{' '.join(cmd)} failed with status {status}")
    return {
        "writes": writes,
        "wrong": wrong,
        "worst_s": worst,
        "refused": refused,
        "rss_1h_kib": rss_1h,
        "rss_day_kib": rss_day,
        "cpu_s": usage.ru_utime + usage.ru_stime,
        "refused": refused,
        "refused_wrong": refused_wrong,
        "lock_events": lock_events,
        "first_lock_min": first_lock_min,
    }


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--decode", action="append", help="varnol-decode to run (default build/varnol-decode)")
    ap.add_argument("--minutes", type=int, default=1440)
    ap.add_argument("--stations", default=",".join(STATIONS))
    ap.add_argument("--conditions", default=",".join(name for name, _ in CONDITIONS))
    ap.add_argument("--robust-lock", action="store_true", help="run the robust lock beside the loop")
    ap.add_argument("--markdown", action="store_true", help="print a Markdown table")
    a = ap.parse_args()
    decodes = [os.path.abspath(d) for d in (a.decode or ["build/varnol-decode"])]
    rows = []
    for name, extra in CONDITIONS:
        if name not in a.conditions.split(","):
            continue
        for station in a.stations.split(","):
            for decode in decodes:
                r = soak(decode, station, extra, a.minutes, a.robust_lock)
                rows.append((decode, station, name + " (" + " ".join(extra) + ")", r))
                if not a.markdown:
                    print(decode, station, name, json.dumps(r), flush=True)
    if a.markdown:
        print(f"| program | station | condition | clock writes | wrong writes | worst error | refused | "
              f"peak RSS 1 h | peak RSS {a.minutes // 60} h | CPU |")
        print("|---|---|---|---|---|---|---|---|---|---|")
        for decode, station, cond, r in rows:
            worst = f"{r['worst_s']:.0f} s" if r["wrong"] else "-"
            print(f"| {decode} | {station} | {cond} | {r['writes']} | {r['wrong']} | {worst} | {r['refused']} | "
                  f"{(r['rss_1h_kib'] or 0) / 1024:.1f} MB | {(r['rss_day_kib'] or 0) / 1024:.1f} MB | "
                  f"{r['cpu_s']:.1f} s |")


if __name__ == "__main__":
    main()
