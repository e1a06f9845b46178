#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Real WWVB reception (a 60 kHz receiver chip's output logged in Nebraska in 2022, 700 km from
the transmitter), turned into a keyed tone at line level and decoded with no option but the
station and the PC clock at the first sample.

- A clean 20 minutes: every minute after the second marker steps the clock to the true minute.
- A fading hour (the signal comes and goes in the noise; the threshold decoder finds no minute):
  no wrong clock step, and the robust lock, when it locks, names the true minute.
The true time is the log's own label (kept by NTP on the logging computer), in TAI: UTC = TAI - 37 s.

Usage: observatory_e2e.py BUILD_DIR DATA_DIR
"""
import calendar
import os
import subprocess
import sys
import tempfile
import time

from e2e_harness import check, decode, summary

HERE = os.path.dirname(os.path.abspath(__file__))


def unix(iso):
    return calendar.timegm(time.strptime(iso, "%Y-%m-%dT%H:%M:%SZ"))


def audio(log, wav):
    p = subprocess.run([sys.executable, os.path.join(HERE, "observatory_audio.py"), log, wav],
                       capture_output=True, text=True, timeout=300)
    if p.returncode != 0:
        raise RuntimeError(p.stderr)
    return p.stdout.strip()


def judged(events, start):
    """Clock steps and locks, each as (named second, true second when it was made)."""
    steps = [(unix(e["utc"]), start + e["t"]) for e in events if e["event"] == "clock"]
    locks = [(unix(e["utc"]), start + e["t"]) for e in events
             if e["event"] == "lock" and e["state"] == "locked"]
    return steps, locks


def main():
    folder = sys.argv[2]
    with tempfile.TemporaryDirectory() as tmp:
        wav = os.path.join(tmp, "clean.wav")
        first = audio(os.path.join(folder, "2022-01-01T05-TAI_clean_20min.txt.xz"), wav)
        start = unix(first)
        code, events, err = decode(["--input", wav, "--station", "wwvb", "--clock", first, "--robust-lock"], tmp)
        check("clean: decoded to its end", code == 0, err)
        steps, locks = judged(events, start)
        # A step names second 1 of the minute it is made in; the chip delays the code by up to 0.1 s.
        wrong = [s for s in steps if abs(s[0] - s[1]) > 1]
        check("clean: 18 clock steps, every minute after the second marker", len(steps) == 18, steps)
        check("clean: every step names the true time", not wrong, wrong)
        check("clean: nothing refused", not [e for e in events if e["event"] == "refused"])
        check("clean: the robust lock locks", bool(locks), locks)

        wav = os.path.join(tmp, "fading.wav")
        first = audio(os.path.join(folder, "2022-09-11T03-TAI_fading_60min.txt.xz"), wav)
        start = unix(first)
        code, events, err = decode(["--input", wav, "--station", "wwvb", "--clock", first, "--robust-lock"], tmp)
        check("fading: decoded to its end", code == 0, err)
        steps, locks = judged(events, start)
        check("fading: no wrong clock step", all(abs(s[0] - s[1]) <= 1 for s in steps), steps)
        # A lock names the start of the last whole minute it scored: at most a minute and a
        # second before the moment it is reported.
        check("fading: the robust lock locks on the true minute",
              bool(locks) and all(0 <= t - named <= 61 for named, t in locks), locks)
    return summary()


if __name__ == "__main__":
    sys.exit(main())
