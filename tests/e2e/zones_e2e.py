#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""End-to-end checks of the clock step in the PC's time zone.

Usage: zones_e2e.py BUILD_DIR
The system clock counts UTC whatever the zone; only the texts shown as local time may change.
Every station is decoded with a PC clock 10 s slow under TZ=UTC and four other zones, around
UTC and local midnights and across daylight-saving changes: the clock writes must be the same
in every zone and each within a few seconds of the true time, and the first measured offset
within a few seconds of the clock's true error. Prints 'N passed, N failed' at the end and
exits non-zero on any failure.
"""
import datetime as dt
import os
import sys
import tempfile

from e2e_harness import DECODE, check, clocks, summary
import e2e_harness

ZONES = ["UTC", "Europe/Berlin", "America/New_York", "Asia/Kolkata", "Pacific/Auckland"]
SLOW = 10  # seconds the PC clock is behind at the first sample
CARD_RATE = 3756 * 128 / 60.0  # the simulated card's samples per second; stamps count 8000
TOLERANCE = 3  # seconds

# station, first minute (UTC), minutes, what the moment is
CASES = [
    ("msf", "2026-12-07T13:05", 4, "afternoon"),
    ("hbg", "2026-12-07T13:05", 4, "afternoon"),
    ("dcf77", "2026-12-07T13:05", 4, "afternoon"),
    ("wwvb", "2026-12-07T13:05", 4, "afternoon"),
    ("vng", "2026-12-07T13:05", 4, "afternoon"),
    ("rwm", "2026-12-07T13:05", 4, "afternoon"),
    ("wwv", "2026-12-07T13:05", 4, "afternoon"),
    ("wwvb", "2026-12-07T23:57", 5, "UTC midnight"),
    ("dcf77", "2026-12-07T22:57", 5, "Berlin midnight"),
    ("vng", "2026-12-08T04:57", 5, "New York midnight"),
    ("rwm", "2026-12-07T18:27", 5, "Kolkata midnight"),
    ("wwv", "2026-12-07T10:57", 5, "Auckland midnight"),
    ("dcf77", "2026-03-29T00:57", 5, "Berlin summer time begins"),
    ("wwvb", "2026-03-08T06:57", 5, "New York summer time begins"),
    ("msf", "2026-04-04T13:57", 5, "Auckland summer time ends"),
    ("jjy", "2026-12-07T13:05", 4, "afternoon"),
    ("jjy", "2026-12-07T14:57", 5, "Tokyo midnight"),
    ("jjy", "2026-12-31T14:57", 5, "Tokyo new year"),
]


def utc(text):
    return dt.datetime.fromisoformat(text.replace("Z", "+00:00")).replace(tzinfo=dt.timezone.utc).timestamp()


def iso(seconds):
    return dt.datetime.fromtimestamp(seconds, dt.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")


def decode_in_zone(zone, args, cwd):
    os.environ["TZ"] = zone
    try:
        return e2e_harness.decode(args, cwd)
    finally:
        os.environ["TZ"] = "UTC"


def main():
    with tempfile.TemporaryDirectory() as tmp:
        for station, first, minutes, what in CASES:
            start = utc(first + ":00")
            args = ["--simulate", "--station", station, "--start", first + ":00Z", "--clock", iso(start - SLOW),
                    "--minutes", str(minutes), "--snr", "10"]
            reference = None
            for zone in ZONES:
                name = f"{station} {what} in {zone}"
                code, ev, err = decode_in_zone(zone, args, tmp)
                check(f"{name}: exit 0", code == 0, err)
                writes = clocks(ev)
                if reference is None:
                    reference = writes
                    check(f"{name}: clock written", len(writes) >= 2, writes)
                else:
                    check(f"{name}: same writes as in UTC", writes == reference, (writes, reference))
                # each write lands about a second into the minute it names
                errors = [utc(e["utc"]) - (start + e["t"] * 8000.0 / CARD_RATE) for e in ev if e["event"] == "clock"]
                check(f"{name}: writes within {TOLERANCE} s of the truth", all(abs(x) <= TOLERANCE for x in errors),
                      errors)
                syncs = [e["seconds"] for e in ev if e["event"] == "sync"]
                check(f"{name}: first offset is the clock's error", syncs and abs(syncs[0] - SLOW) <= TOLERANCE, syncs)
    return summary()


if __name__ == "__main__":
    sys.exit(main())
