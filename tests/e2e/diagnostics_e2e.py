#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""End-to-end checks of varnol-decode's diagnostics: the signal words and the run summary, the
gain stage on a full-scale WWV signal, the other station recognised in a recording, and the
chart of a recording checked pixel by pixel.

Usage: diagnostics_e2e.py BUILD_DIR
Prints 'N passed, N failed' at the end and exits non-zero on any failure.
"""
import os
import struct
import subprocess
import sys
import tempfile

from e2e_harness import DECODE, SIGNAL, check, decode, resets, run, summary

START = "2026-12-07T13:05:00Z"


def of(events, kind):
    return [e for e in events if e["event"] == kind]


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    return struct.unpack(">II", head[16:24]) if head[:8] == b"\x89PNG\r\n\x1a\n" else (0, 0)


def pixel_row(path, x, y, width):
    """The colours of `width` pixels from (x, y) rightwards, as (r, g, b) tuples (ImageMagick)."""
    out = subprocess.run(["convert", path, "-crop", f"{width}x1+{x}+{y}", "-depth", "8", "txt:-"],
                         capture_output=True, text=True, check=True).stdout
    row = []
    for line in out.splitlines()[1:]:
        rgb = line.split("(")[1].split(")")[0].split(",")[:3]
        row.append(tuple(int(float(v)) for v in rgb))
    return row


def main():
    with tempfile.TemporaryDirectory() as tmp:
        # Full-scale WWV: nothing decodes, and the words say why.
        code, ev, _ = decode(["--station", "wwv", "--start", START, "--minutes", "4", "--amplitude", "32767"], tmp)
        sig = of(ev, "signal")
        summ = of(ev, "summary")
        check("full-scale wwv: exit 0", code == 0)
        check("full-scale wwv: too strong in words",
              any(s["verdict"] == "too_strong" and
                  s["text"].startswith("The signal is too strong: lower the recording level (or use --gain)")
                  for s in sig), sig)
        check("full-scale wwv: nothing decoded", len(resets(ev)) == 0 and len(summ) == 1 and summ[0]["decoded"] == 0)
        check("full-scale wwv: summary's first reason", summ and summ[0]["reasons"] and
              "too strong" in summ[0]["reasons"][0], summ)

        # The same with the automatic gain decodes every minute after the first marker.
        code, ev, _ = decode(["--station", "wwv", "--start", START, "--minutes", "5", "--amplitude", "32767",
                              "--gain", "auto"], tmp)
        summ = of(ev, "summary")
        check("full-scale wwv, --gain auto: decodes", resets(ev) == ["Reset 13:07", "Reset 13:08", "Reset 13:09"],
              resets(ev))
        check("full-scale wwv, --gain auto: summary", summ and summ[0]["decoded"] == 3 and summ[0]["clock_steps"] == 3,
              summ)
        check("full-scale wwv, --gain auto: gain reported",
              all(s["gain_db"] is not None and s["gain_db"] < -30 for s in of(ev, "signal")[1:]), of(ev, "signal"))

        # Existing events keep their exact keys; signal words come at most once a minute.
        keys = {"status": {"t", "event", "text"}, "clock": {"t", "event", "utc", "written"},
                "sync": {"t", "event", "seconds"}}
        check("existing events keep their keys",
              all(set(e) == keys[e["event"]] for e in ev if e["event"] in keys))
        code, ev, _ = decode(["--station", "dcf77", "--start", START, "--minutes", "8"], tmp)
        times = [s["t"] for s in of(ev, "signal")]
        check("signal words at most once a minute", 1 <= len(times) <= 8 and
              all(b - a >= 59 for a, b in zip(times, times[1:])), times)
        check("signal object's keys", of(ev, "signal") and set(of(ev, "signal")[0]) == {
            "t", "event", "verdict", "level", "ceiling", "at_ceiling", "clipped", "tone_hz", "strongest_hz",
            "snr_db", "card_rate", "gain_db", "found_hz", "shift_hz", "text"})
        check("good reception: no reasons", of(ev, "summary")[0]["reasons"] == [], of(ev, "summary"))

        # An MSF recording decoded with the default station: the other station is named.
        msf = os.path.join(tmp, "msf.wav")
        run([SIGNAL, "--output", msf, "--station", "msf", "--start", START, "--minutes", "4", "--snr", "6"], tmp)
        code, out, _ = run([DECODE, "--input", msf], tmp)
        reasons = [l for l in out.splitlines() if "  reason  " in l]
        check("msf as dcf77: exit 0", code == 0)
        check("msf as dcf77: first reason names MSF", reasons and
              reasons[0].endswith("1. no minute markers: is this the right station? markers of MSF were seen"), out)

        # The chart of a four-minute recording: size, rows, and the marker where the minute begins.
        dcf = os.path.join(tmp, "dcf.wav")
        chart = os.path.join(tmp, "dcf.png")
        run([SIGNAL, "--output", dcf, "--station", "dcf77", "--start", START, "--minutes", "4", "--snr", "6"], tmp)
        code, ev, _ = decode(["--input", dcf, "--chart", chart], tmp)
        label, bpp, row_h = 64, 3, 13
        width, height = png_size(chart)
        check("chart written", code == 0 and os.path.exists(chart))
        check("chart size: a row per minute", (width, height) == (label + (3756 + bpp - 1) // bpp, 4 * row_h + 132),
              (width, height))
        cyan = (127, 255, 255)
        for row in (1, 2, 3):
            line = pixel_row(chart, label, row * row_h, width - label)
            at = [x for x, p in enumerate(line) if p == cyan]
            check(f"chart row {row}: marker at the minute's start only", at and
                  all(x <= 4 or x >= len(line) - 4 for x in at), at)
            bars = pixel_row(chart, label, row * row_h + 11, width - label)
            check(f"chart row {row}: level bars", sum(p == (255, 255, 0) for p in bars) > len(bars) // 2)

        # Bad options and an unwritable chart.
        code, _, err = run([DECODE, "--gain", "loud"], tmp)
        check("--gain loud: usage error", code == 2 and "--gain" in err, err)
        code, out, err = run([DECODE, "--minutes", "1", "--chart", "/nonexistent/folder/c.png"], tmp)
        check("unwritable chart: exit 4 before any audio", code == 4 and out == "" and
              "cannot write the chart" in err, (code, out, err))
    return summary()


if __name__ == "__main__":
    sys.exit(main())
