#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""End-to-end checks of varnol-decode and varnol-signal on the simulated MSF, HBG, WWVB, VNG,
RWM, WWV and JJY signals.

Usage: stations_e2e.py BUILD_DIR
For every station: consecutive minutes give the station's reset texts and the clock writes its
hour correction implies, at a realistic signal-to-noise ratio, and still do so with a sound card
0.1 % fast or slow when the calibration may follow the measured minute. Prints
'N passed, N failed' at the end and exits non-zero on any failure.
"""
import os
import sys
import tempfile

from e2e_harness import DECODE, SIGNAL, check, clocks, decode, marks, resets, run, summary


def minutes_utc(day, first, count):
    """Clock writes at second 1 of `count` consecutive minutes from HH:MM `first`."""
    h, m = map(int, first.split(":"))
    out = []
    for k in range(count):
        t = h * 60 + m + k
        out.append(f"{day}T{t // 60 % 24:02d}:{t % 60:02d}:01Z")
    return out


# Winter afternoon, 5 minutes from 13:05 UTC: markers at 13:06 (only remembered), 13:07, 13:08
# and 13:09. RWM snaps at every mark, the first one included.
WINTER = {
    "msf": (["Reset 13:07 UT+0", "Reset 13:08 UT+0", "Reset 13:09 UT+0"], minutes_utc("2026-12-07", "13:07", 3)),
    "hbg": (["Reset 14:07 UT+1", "Reset 14:08 UT+1", "Reset 14:09 UT+1"], minutes_utc("2026-12-07", "13:07", 3)),
    "wwvb": (["Reset 13:07", "Reset 13:08", "Reset 13:09"], minutes_utc("2026-12-07", "13:07", 3)),
    "vng": (["Reset 13:07 UT+0", "Reset 13:08 UT+0", "Reset 13:09 UT+0"], minutes_utc("2026-12-07", "13:07", 3)),
    "rwm": (["Reset 13:06", "Reset 13:07", "Reset 13:08", "Reset 13:09"], minutes_utc("2026-12-07", "13:06", 4)),
    "wwv": (["Reset 13:07", "Reset 13:08", "Reset 13:09"], minutes_utc("2026-12-07", "13:07", 3)),
    "jjy": (["Reset 22:07", "Reset 22:08", "Reset 22:09"], minutes_utc("2026-12-07", "13:07", 3)),
}


def main():
    with tempfile.TemporaryDirectory() as tmp:
        # 1. Every station at 10 dB: reset texts and clock writes minute after minute.
        for station, (texts, writes) in WINTER.items():
            code, ev, err = decode(["--simulate", "--station", station, "--start", "2026-12-07T13:05:00Z",
                                    "--minutes", "5", "--snr", "10", "--seed", "3"], tmp)
            check(f"{station}: exit 0", code == 0, err)
            check(f"{station}: reset texts", resets(ev) == texts, resets(ev))
            check(f"{station}: clock writes", clocks(ev) == writes, clocks(ev))
            check(f"{station}: marks a minute apart", marks(ev)[1:] and all(abs(m - 3756) <= 1 for m in marks(ev)[1:]),
                  marks(ev))

        # 2. Summer time: MSF sends BST (UT+1), HBG CEST (UT+2); both are written in UT.
        for station, texts in [("msf", ["Reset 11:02 UT+1", "Reset 11:03 UT+1"]),
                               ("hbg", ["Reset 12:02 UT+2", "Reset 12:03 UT+2"])]:
            code, ev, err = decode(["--simulate", "--station", station, "--start", "2026-07-01T10:00:00Z",
                                    "--minutes", "4", "--snr", "10"], tmp)
            check(f"{station} summer: reset texts", resets(ev) == texts, resets(ev))
            check(f"{station} summer: clock writes in UT", clocks(ev) == minutes_utc("2026-07-01", "10:02", 2), clocks(ev))

        # 3. HBG marks the full hour with three interruptions: that minute is not taken as a
        #    minute marker, so the minute after it does not follow and is not written either.
        code, ev, err = decode(["--simulate", "--station", "hbg", "--start", "2026-12-07T12:56:00Z",
                                "--minutes", "7", "--snr", "10"], tmp)
        check("hbg full hour: 14:00 CET and 14:01 give no clock write",
              clocks(ev) == minutes_utc("2026-12-07", "12:58", 2) + minutes_utc("2026-12-07", "13:02", 1), clocks(ev))

        # 4. Across midnight UT for the stations that send the minute just begun: 00:00 never
        #    follows 23:59 in the clock step; 00:01 does, on the next date.
        for station in ["wwvb", "wwv"]:
            code, ev, err = decode(["--simulate", "--station", station, "--start", "2026-12-07T23:57:00Z",
                                    "--minutes", "5", "--snr", "10"], tmp)
            check(f"{station} midnight: reset texts", resets(ev) == ["Reset 23:59", "Reset 00:01"], resets(ev))
            check(f"{station} midnight: clock writes",
                  clocks(ev) == ["2026-12-07T23:59:01Z", "2026-12-08T00:01:01Z"], clocks(ev))

        # 4b. JJY sends Japan Standard Time (UTC+9): its midnight and its new year fall at 15:00
        #     UTC, and the minutes go on across them; each accepted minute's other fields are
        #     reported in --json, the call sign heard in minute 15. Both transmitters' names work.
        for day, doy, year, name in [("2026-12-07", [341, 341, 342], [26, 26, 26], "jjy"),
                                     ("2026-12-31", [365, 365, 1], [26, 26, 27], "jjy60")]:
            code, ev, err = decode(["--simulate", "--station", name, "--start", f"{day}T14:57:00Z",
                                    "--minutes", "5", "--snr", "10"], tmp)
            jjy = [e for e in ev if e["event"] == "jjy"]
            check(f"{name} JST midnight {day}: reset texts",
                  resets(ev) == ["Reset 23:59", "Reset 00:00", "Reset 00:01"], resets(ev))
            check(f"{name} JST midnight {day}: clock writes", clocks(ev) == minutes_utc(day, "14:59", 3), clocks(ev))
            check(f"{name} JST midnight {day}: date fields", [e["day_of_year"] for e in jjy] == doy and
                  [e["year"] for e in jjy] == year and [e["sent_jst"] for e in jjy] == ["23:58", "23:59", "00:00"],
                  jjy)
        code, ev, err = decode(["--simulate", "--station", "jjy40", "--start", "2026-12-07T13:13:00Z",
                                "--minutes", "5", "--snr", "10"], tmp)
        jjy = {e["sent_jst"]: e for e in ev if e["event"] == "jjy"}
        check("jjy call sign in minute 15 only",
              sorted(jjy) == ["22:14", "22:15", "22:16"] and jjy["22:15"]["call_sign"] is True
              and jjy["22:15"]["year"] is None and jjy["22:15"]["leap"] is None
              and jjy["22:14"]["call_sign"] is False and jjy["22:16"]["year"] == 26
              and jjy["22:16"]["weekday"] == 1 and jjy["22:16"]["leap"] == "none", jjy)

        # 5. The user's offset from UT goes into the written time (not for RWM, which snaps).
        code, ev, err = decode(["--simulate", "--station", "vng", "--start", "2026-12-07T13:05:00Z",
                                "--minutes", "3", "--offset", "-3"], tmp)
        check("vng offset -3 h: text in UT, clock 3 h earlier",
              resets(ev) == ["Reset 13:07 UT+0"] and clocks(ev) == ["2026-12-07T10:07:01Z"], (resets(ev), clocks(ev)))
        code, ev, err = decode(["--simulate", "--station", "rwm", "--start", "2026-12-07T13:05:00Z",
                                "--minutes", "2", "--offset", "5.5"], tmp)
        check("rwm offset ignored", clocks(ev) == ["2026-12-07T13:06:01Z"], clocks(ev))

        # 6. RWM snaps a PC clock that is off by up to half a minute to the minute mark: the
        #    mark run ends about 1.07 s into 13:06, when the slow clock reads 13:05:41.
        code, ev, err = decode(["--simulate", "--station", "rwm", "--start", "2026-12-07T13:05:00Z",
                                "--clock", "2026-12-07T13:04:40Z", "--minutes", "2"], tmp)
        syncs = [e["seconds"] for e in ev if e["event"] == "sync"]
        check("rwm: a clock 20 s slow is snapped", clocks(ev) == ["2026-12-07T13:06:01Z"] and syncs[:1] == [20],
              (clocks(ev), syncs))

        # 7. A sound card 0.1 % fast or slow: the calibration follows the measured minute and
        #    every minute is still written, right to the second.
        for bpm in [3760, 3752]:
            for station, (texts, _) in WINTER.items():
                code, ev, err = decode(["--simulate", "--station", station, "--start", "2026-12-07T13:05:00Z",
                                        "--minutes", "9", "--snr", "10", "--card-blocks-per-minute", str(bpm),
                                        "--adjust-calibration"], tmp)
                first = "13:06" if station == "rwm" else "13:07"
                count = 8 if station == "rwm" else 7
                check(f"{station} card {bpm}: every minute written",
                      clocks(ev) == minutes_utc("2026-12-07", first, count), clocks(ev))
                check(f"{station} card {bpm}: marks measure the card's minute",
                      all(abs(m - bpm) <= 2 for m in marks(ev)[1:]) and len(marks(ev)) >= 7, marks(ev))

        # 8. A recording of each family decodes like the live simulation.
        for station in ["msf", "wwvb", "vng", "wwv", "jjy"]:
            wav = os.path.join(tmp, f"{station}.wav")
            code, out, err = run([SIGNAL, "--station", station, "--start", "2026-12-07T13:05:00Z", "--minutes", "4",
                                  "--snr", "10", "--output", wav], tmp)
            check(f"{station} recording written", code == 0, err)
            code, ev, err = decode(["--input", wav, "--station", station, "--clock", "2026-12-07T13:05:00Z"], tmp)
            texts, writes = WINTER[station]
            check(f"{station} recording: reset texts", resets(ev) == texts[:2], resets(ev))
            check(f"{station} recording: clock writes", clocks(ev) == writes[:2], clocks(ev))

    return summary()


if __name__ == "__main__":
    sys.exit(main())
