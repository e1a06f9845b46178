#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Real off-air recordings decoded out of the box (no option but the station and the PC clock at
the first sample): a DCF77 reception through a web receiver in CW mode (a 747 Hz tone at 7119
samples a second, peaks at a quarter of full scale) must step the clock to 20:30:01Z and
20:31:01Z and to nothing wrong; a one-minute WWV reception must step nothing and say it is too
short. The true times are in the recordings' README.

Usage: recordings_e2e.py BUILD_DIR RECORDINGS_DIR
VARNOL_RECORDINGS in the environment, when set, names the folder instead (a work tree kept
elsewhere than beside the shared folder). Exits 77 (skipped) when the folder is absent.
"""
import os
import sys
import tempfile

from e2e_harness import check, clocks, decode, summary

DCF77 = "dcf77_websdr_20230625_747Hz_7119sps.flac"
WWV = "wwv_hamsci_20250227_0008_16000sps.flac"


def of(events, kind):
    return [e for e in events if e["event"] == kind]


def main():
    folder = os.environ.get("VARNOL_RECORDINGS") or (sys.argv[2] if len(sys.argv) > 2 else "")
    if not all(os.path.isfile(os.path.join(folder, f)) for f in (DCF77, WWV)):
        print(f"skipped: the real recordings are not in '{folder}' (the shared folder beside the source tree)")
        return 77
    with tempfile.TemporaryDirectory() as tmp:
        # DCF77: the first sample is about 20:27:58.22Z.
        code, events, err = decode(["--input", os.path.join(folder, DCF77), "--station", "dcf77",
                                    "--clock", "2023-06-25T20:27:58Z"], tmp)
        check("dcf77 recording: decoded to its end", code == 0, err)
        tone = of(events, "tone")
        check("dcf77 recording: the tone found near 747 Hz and moved to 1000 Hz",
              len(tone) == 1 and tone[0]["found_hz"] is not None and abs(tone[0]["found_hz"] - 747) < 5
              and abs(tone[0]["shift_hz"] - (1000 - tone[0]["found_hz"])) < 0.01, tone)
        gain = of(events, "gain")
        check("dcf77 recording: the first seconds turn the level down", len(gain) == 1 and gain[0]["gain_db"] < -10,
              gain)
        steps = clocks(events)
        right = {"2023-06-25T20:29:01Z", "2023-06-25T20:30:01Z", "2023-06-25T20:31:01Z"}
        check("dcf77 recording: clock steps at 20:30:01Z and 20:31:01Z",
              "2023-06-25T20:30:01Z" in steps and "2023-06-25T20:31:01Z" in steps, steps)
        check("dcf77 recording: no wrong clock step", all(s in right for s in steps), steps)
        signal = of(events, "signal")
        check("dcf77 recording: the signal report names the receiver's tone and the shift",
              bool(signal) and signal[0]["found_hz"] is not None and "moved" in signal[0]["text"],
              signal[:1])
        fine = of(events, "summary")
        check("dcf77 recording: no fading made by the gain",
              len(fine) == 1 and not any("fading" in r for r in fine[0]["reasons"]), fine)

        # The same with the robust lock and the PC clock's date in winter: the summer-time bits,
        # not the date, decide the hour (the candidate after two minutes is 20:29Z, not 21:29Z).
        code, events, err = decode(["--input", os.path.join(folder, DCF77), "--station", "dcf77",
                                    "--robust-lock", "--clock", "2023-12-25T20:27:58Z"], tmp)
        timing = [e["utc"] for e in of(events, "lock") if e["utc"] is not None]
        check("dcf77 recording, date in winter: the lock's candidate is 20:29Z",
              code == 0 and timing == ["2023-12-25T20:29:00Z"], (timing, err))
        check("dcf77 recording, date in winter: the same clock steps, none refused",
              [s[-9:] for s in clocks(events)] == ["20:30:01Z", "20:31:01Z"] and not of(events, "refused"),
              clocks(events))

        code, events, err = decode(["--input", os.path.join(folder, WWV), "--station", "wwv"], tmp)
        check("wwv recording: read to its end", code == 0, err)
        check("wwv recording: no clock step", clocks(events) == [], clocks(events))
        tone = of(events, "tone")
        check("wwv recording: AM audio left where it is", len(tone) == 1 and tone[0]["shift_hz"] == 0, tone)
        s = of(events, "summary")
        check("wwv recording: the summary says it is too short",
              len(s) == 1 and bool(s[0]["reasons"]) and "too short" in s[0]["reasons"][0], s)
    return summary()


if __name__ == "__main__":
    sys.exit(main())
