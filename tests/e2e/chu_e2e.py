#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""End-to-end checks of varnol-signal and varnol-decode on the simulated CHU signal.

Usage: chu_e2e.py BUILD_DIR
A recording written by varnol-signal at 10 dB decodes its first time from seconds 32 and 33 of
the first minute (33.5 s into the audio), sets the clock to that second once a minute and
reports format B's year and announcements; the live simulation does the same with a sound card
off nominal, and with --epochs labels its measured seconds. Prints 'N passed, N failed' at the end and exits non-zero on any failure.
"""
import os
import sys
import tempfile

from e2e_harness import SIGNAL, check, clocks, decode, resets, run, summary


def main():
    with tempfile.TemporaryDirectory() as tmp:
        # 1. A recording at 10 dB, from the start of a minute.
        wav = os.path.join(tmp, "chu.wav")
        code, out, err = run([SIGNAL, "--station", "chu", "--start", "2026-12-07T13:05:00Z", "--minutes", "2",
                              "--snr", "10", "--output", wav], tmp)
        check("chu recording written", code == 0, err)
        code, ev, err = decode(["--input", wav, "--station", "chu", "--clock", "2026-12-07T13:05:00Z"], tmp)
        check("chu recording: exit 0", code == 0, err)
        check("chu recording: reset texts in UTC", resets(ev) == ["Reset 13:05", "Reset 13:06"], resets(ev))
        check("chu recording: clock set to the second", clocks(ev) == ["2026-12-07T13:05:33Z", "2026-12-07T13:06:33Z"],
              clocks(ev))
        tone = [e["text"] for e in ev if e["event"] == "tone"]
        check("chu recording: the tones left where they are", len(tone) == 1 and "measured where they are" in tone[0],
              tone)
        first = [e["t"] for e in ev if e["event"] == "clock"][:1]
        check("chu recording: first time within 40 s of audio", first and first[0] <= 40.0, first)
        years = [e for e in ev if e["event"] == "chu_year"]
        check("chu recording: format B reported once",
              len(years) == 1 and years[0]["year"] == 2026 and years[0]["dut1"] == 0.1 and years[0]["tai_utc"] == 37
              and years[0]["leap_warning"] is False, years)

        # 2. The live simulation, a sound card 0.1 % fast, across midnight UTC: the date goes with
        #    the time.
        code, ev, err = decode(["--simulate", "--station", "chu", "--start", "2026-12-31T23:58:00Z", "--minutes", "3",
                                "--snr", "10", "--card-blocks-per-minute", "3760"], tmp)
        check("chu live: reset texts", resets(ev) == ["Reset 23:58", "Reset 23:59", "Reset 00:00"], resets(ev))
        check("chu live: clock writes",
              clocks(ev) == ["2026-12-31T23:58:33Z", "2026-12-31T23:59:33Z", "2027-01-01T00:00:33Z"], clocks(ev))

        # 3. The measured seconds: from 13:00:17 the minutes 13:00 (begun before the audio), 13:01
        #    and 13:02 agree, and every second from 13:02:34 on carries its true label; the
        #    simulated system clock is the broadcast's, so every offset lies near 0 (a wrong label
        #    would be a whole second off).
        code, ev, err = decode(["--simulate", "--station", "chu", "--start", "2026-12-07T13:00:17Z", "--minutes", "5",
                                "--snr", "10", "--epochs"], tmp)
        epochs = [e for e in ev if e["event"] == "epoch"]
        off = [e for e in epochs if abs(e["offset"]) > 0.002]
        check("chu epochs: locked on the third minute, every second within 2 ms of its label",
              code == 0 and len(epochs) > 120 and epochs[0]["utc"] <= "2026-12-07T13:02:40Z" and not off,
              (len(epochs), epochs[:1], off[:3]))

    return summary()


if __name__ == "__main__":
    sys.exit(main())
