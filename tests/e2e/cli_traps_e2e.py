#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""What a newcomer meets with the command-line tools: the user's files are never destroyed,
options are done or refused (never accepted and ignored), a stereo receiver on the right side
decodes, damaged recordings say what is wrong, every --help lists its exit codes, every option
takes its value after '=' as well, and every program tells its version.

Usage: cli_traps_e2e.py BUILD_DIR
Prints 'N passed, N failed' at the end and exits non-zero on any failure.
"""
import json
import os
import re
import signal
import socket
import stat
import subprocess
import sys
import tempfile
import threading
import time
import wave

from e2e_harness import BUILD, DECODE, SIGNAL, check, decode, resets, run, summary

DCF = ["--station", "dcf77"]
START = "2026-12-07T13:05:00Z"


def stereo_from(mono_path, out_path, signal_side):
    """The mono recording on one side of a stereo file, silence on the other."""
    with wave.open(mono_path, "rb") as src:
        frames = src.readframes(src.getnframes())
        rate = src.getframerate()
    silence = b"\0\0"
    out = bytearray()
    for i in range(0, len(frames), 2):
        s = frames[i:i + 2]
        out += (s + silence) if signal_side == "left" else (silence + s)
    with wave.open(out_path, "wb") as dst:
        dst.setnchannels(2)
        dst.setsampwidth(2)
        dst.setframerate(rate)
        dst.writeframes(bytes(out))


def main():
    with tempfile.TemporaryDirectory() as tmp:
        rec = os.path.join(tmp, "recording.wav")
        code, _, err = run([SIGNAL, *DCF, "--start", START, "--minutes", "3", "--output", rec], tmp)
        check("signal: a three-minute recording named recording.wav", code == 0, err)
        size = os.path.getsize(rec)

        # 1. Decoding a recording in its own folder leaves it alone; a snapshot only when asked.
        code, ev, err = decode(["--input", rec, *DCF, "--clock", START], tmp)
        check("decode in the recording's folder: exit 0 and decoded", code == 0 and resets(ev), err)
        check("decode: the recording is untouched", os.path.getsize(rec) == size)
        code, _, err = decode(["--input", rec, *DCF, "--snapshot", "snap.wav"], tmp)
        check("--snapshot FILE: 4142 bytes written", code == 0 and os.path.getsize(os.path.join(tmp, "snap.wav")) == 4142, err)
        code, _, err = decode(["--input", rec, *DCF, "--snapshot", "recording.wav"], tmp)
        check("--snapshot naming the input: usage error, input kept",
              code == 2 and "would replace" in err and os.path.getsize(rec) == size, err)
        for where in ["no-such-folder/snap.wav", tmp]:
            code, ev, err = decode(["--input", rec, *DCF, "--snapshot", where], tmp)
            check(f"--snapshot {os.path.basename(where)}: refused before decoding with exit 4, one line",
                  code == 4 and not ev and err.startswith("varnol-decode: cannot write the snapshot")
                  and len(err.strip().splitlines()) == 1, err)
        leftovers = [f for f in os.listdir(tmp) if ".part" in f]
        check("no temporary files left", not leftovers, leftovers)

        # 2. Options that cannot apply are refused; --minutes cuts a recording.
        for opt in [["--start", START], ["--snr", "5"], ["--seed", "2"]]:
            code, _, err = decode(["--input", rec, *opt], tmp)
            check(f"{opt[0]} with --input: usage error", code == 2 and opt[0] in err, err)
        code, _, err = decode(["--device", "--clock", START], tmp)  # refused before any device is opened
        check("--clock with --device: usage error", code == 2 and "--clock" in err, err)
        code, ev, err = decode(["--input", rec, *DCF, "--clock", START, "--minutes", "1.5"], tmp)
        last_t = max((e["t"] for e in ev), default=0)
        # whole buffers of 256 ms: the run ends in the buffer that crosses 90 s
        check("--minutes 1.5 with --input: stops within the first 90 s",
              code == 0 and 0 < last_t <= 90.256 and len(resets(ev)) < 2, (last_t, resets(ev), err))

        # 3. A receiver on the right side of a stereo recording.
        for side in ["left", "right"]:
            stereo_from(rec, os.path.join(tmp, f"{side}.wav"), side)
        full = resets(decode(["--input", rec, *DCF, "--clock", START], tmp)[1])
        for path, channel, decodes in [("right.wav", None, False), ("right.wav", "right", True),
                                       ("right.wav", "mix", True), ("left.wav", "left", True)]:
            args = ["--input", path, *DCF, "--clock", START] + (["--channel", channel] if channel else [])
            code, ev, err = decode(args, tmp)
            check(f"{path} --channel {channel or '(default)'}: {'decodes' if decodes else 'silence'}",
                  code == 0 and (resets(ev) == full if decodes else not resets(ev)), (resets(ev), err))
        code, _, err = decode(["--input", "right.wav", "--channel", "up"], tmp)
        check("--channel up: usage error", code == 2, err)

        # 4. Damaged recordings: an absurd rate is refused; a cut file decodes, then says so.
        data = open(rec, "rb").read()
        with open(os.path.join(tmp, "rate1.wav"), "wb") as f:
            f.write(data[:24] + (1).to_bytes(4, "little") + data[28:])
        t0 = time.monotonic()
        code, _, err = decode(["--input", "rate1.wav"], tmp)
        check("1 Hz header: exit 3 naming the rate, at once",
              code == 3 and "1 Hz" in err and time.monotonic() - t0 < 5, err)
        with open(os.path.join(tmp, "cut.wav"), "wb") as f:
            f.write(data[:len(data) * 3 // 4])  # 2 min 15 s of the 3 minutes
        code, ev, err = decode(["--input", "cut.wav", *DCF, "--clock", START], tmp)
        check("cut recording: decodes what is there, then exit 3 'ended early'",
              code == 3 and "ended early" in err and resets(ev), (code, resets(ev), err))

        # 5. varnol-signal checks the destination before generating, and takes the format from
        # the name.
        os.mkdir(os.path.join(tmp, "out.wav"))
        t0 = time.monotonic()
        code, _, err = run([SIGNAL, "--minutes", "60", "--output", "out.wav"], tmp)
        check("signal into a folder: exit 3 at once", code == 3 and "folder" in err and time.monotonic() - t0 < 5, err)
        code, _, err = run([SIGNAL, "--minutes", "60", "--output", "no-such-folder/a.wav"], tmp)
        check("signal into a missing folder: exit 3 at once", code == 3 and time.monotonic() - t0 < 10, err)
        code, _, err = run([SIGNAL, "--output", "a.txt"], tmp)
        check("signal a.txt: usage error naming the formats", code == 2 and ".flac" in err, err)
        code, _, err = run([SIGNAL, "--minutes", "0", "--output", "a.wav"], tmp)
        check("signal --minutes 0: says what is allowed", code == 2 and "above 0" in err, err)
        for name in ["s.flac", "s.ogg", "S.WAV"]:
            code, _, err = run([SIGNAL, *DCF, "--start", START, "--minutes", "3", "--snr", "20", "--output", name], tmp)
            c2, ev, err2 = decode(["--input", name, *DCF, "--clock", START], tmp)
            check(f"signal {name}: written and decoded", code == 0 and c2 == 0 and resets(ev) == full, (err, err2, resets(ev)))
        leftovers = [f for f in os.listdir(tmp) if ".part" in f]
        check("no temporary files left", not leftovers, leftovers)

        # 6. Every --help lists its exit codes; setup and the window answer without a display.
        no_display = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        for prog in ["varnol-decode", "varnol-signal", "varnol", "setup"]:
            path = os.path.join(BUILD, prog)
            if not os.path.exists(path):
                print(f"skip  {prog}: not built")
                continue
            p = subprocess.run([path, "--help"], cwd=tmp, capture_output=True, text=True, env=no_display, timeout=30)
            check(f"{prog} --help: exit 0 with exit codes", p.returncode == 0 and "Exit codes" in p.stdout, p.stderr)
        for prog, args, want in [("setup", [], 1), ("varnol", ["--simulate", "dcf77"], 1),
                                 ("varnol", ["--simulate", "--input", rec], 2)]:
            path = os.path.join(BUILD, prog)
            if os.path.exists(path):
                p = subprocess.run([path, *args], cwd=tmp, capture_output=True, text=True, env=no_display, timeout=30)
                check(f"{prog} {' '.join(args)} without a display: exit {want}, one line",
                      p.returncode == want and len(p.stderr.strip().splitlines()) <= 2, p.stderr)
        # 7. "--option=value" is the same option; a value given to an option that takes none is
        # refused, naming it.
        for prog, args, want, says in [
                (DECODE, ["--input=" + rec, "--station=dcf77", "--clock=" + START, "--json"], 0, ""),
                (DECODE, ["--device=hw:1,0", "--clock=" + START], 2, "--clock cannot go with --device"),
                (DECODE, ["--device=", "--clock", START], 2, "--clock cannot go with --device"),
                (DECODE, ["--json=yes"], 2, "--json takes no value"),
                (DECODE, ["--device=", "--device", "hw:1"], 2, "VARNOL_DEVICE"),
                (SIGNAL, ["--station=msf", "--minutes=0.5", "--output=eq.wav"], 0, ""),
                (os.path.join(BUILD, "varnol"), ["--simulate=msf", "--gain=auto", "--channel=mix"], 1, "display"),
                (os.path.join(BUILD, "varnol"), ["--verbose=1"], 2, "--verbose takes no value")]:
            if not os.path.exists(prog):
                continue
            p = subprocess.run([prog, *args], cwd=tmp, capture_output=True, text=True, env=no_display, timeout=120)
            check(f"{os.path.basename(prog)} {' '.join(args)}: exit {want}",
                  p.returncode == want and says in p.stderr, p.stderr)
        code, ev, err = decode(["--input=" + rec, "--station=dcf77", "--clock=" + START], tmp)
        check("--input=FILE --station=dcf77 --clock=TIME decodes as the spaced form", resets(ev) == full, err)

        # 8. --version: one line, the build's version, which the package and the metainfo carry too.
        source = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
        with open(os.path.join(source, "debian", "changelog"), encoding="utf-8") as f:
            package = re.match(r"varnol \(([^)]+)\)", f.readline()).group(1)
        with open(os.path.join(source, "dist", "io.github.varnol.varnol.metainfo.xml"), encoding="utf-8") as f:
            release = re.search(r'<release version="([^"]+)"', f.read()).group(1)
        check(f"metainfo release {release} is the package's {package}", release == package)
        # The window's title beside "varnol" wherever a user meets the program by name.
        with open(os.path.join(source, "src", "app", "wx_varnol.h"), encoding="utf-8") as f:
            title = re.search(r'ProgramName = "([^"]+)"', f.read()).group(1)
        with open(os.path.join(source, "dist", "varnol.desktop"), encoding="utf-8") as f:
            entry = re.search(r"^Name=(.*)$", f.read(), re.M).group(1)
        with open(os.path.join(source, "debian", "control"), encoding="utf-8") as f:
            described = f.read().split("Package: varnol", 1)[1]
        with open(os.path.join(source, "README.md"), encoding="utf-8") as f:
            intro = f.read().split("\n\n", 2)[:2]
        for where, text in [("desktop entry", entry), ("package description", described), ("README", " ".join(intro))]:
            check(f"{where} names the window '{title}' beside 'varnol'", title in text and "varnol" in text, text[:200])
        with open(os.path.join(source, "docs", "man", "varnol.1.scd"), encoding="utf-8") as f:
            page = " ".join(f.read().split())
        check(f"man varnol names the window '{title}' and the menu entry '{entry}'",
              f"*{title}*" in page and entry in page)
        for prog in ["varnol-decode", "varnol-signal", "varnol", "setup"]:
            path = os.path.join(BUILD, prog)
            if not os.path.exists(path):
                continue
            p = subprocess.run([path, "--version"], cwd=tmp, capture_output=True, text=True, env=no_display, timeout=30)
            words = p.stdout.split()
            check(f"{prog} --version: '{prog} {package}'",
                  p.returncode == 0 and len(p.stdout.splitlines()) == 1 and words[:2] == [prog, package],
                  (p.returncode, p.stdout, p.stderr))
        special_outputs(tmp, rec, size)
        refused_options(tmp, rec)
        signals_and_fifo_input(tmp, rec)
        cut_recordings(tmp)
    return summary()


def reader(path):
    """Reads a FIFO to its end in the background; .result holds the bytes."""
    def body():
        with open(path, "rb") as f:
            t.result = f.read()
    t = threading.Thread(target=body, daemon=True)
    t.result = b""
    t.start()
    return t


def kind(path):
    return stat.S_IFMT(os.lstat(path).st_mode)


def special_outputs(tmp, rec, size):
    """7. An output named by the user over a FIFO or a device writes through it and leaves it
    there; a socket or block device is refused; no output replaces the recording."""
    root = os.geteuid() == 0
    d = os.path.join(tmp, "special")
    os.mkdir(d)
    os.mkfifo(os.path.join(d, "pipe"))
    os.mkfifo(os.path.join(d, "pipe.wav"))
    s = socket.socket(socket.AF_UNIX)
    s.bind(os.path.join(d, "sock"))
    s.close()
    if root:
        os.mknod(os.path.join(d, "nulldev"), 0o666 | stat.S_IFCHR, os.makedev(1, 3))
        os.mknod(os.path.join(d, "blockdev"), 0o600 | stat.S_IFBLK, os.makedev(7, 200))
    else:
        print("skip  device nodes in a temporary folder: mknod needs root")
    sim = ["--simulate", "--minutes", "0.5"]
    # (program, arguments, node written, exit code, what the node must have received or None)
    cases = [
        ([DECODE, *sim, "--snapshot", "nulldev"], "nulldev", 0, None),
        ([DECODE, *sim, "--chart", "pipe"], "pipe", 0, b"\x89PNG"),
        ([DECODE, *sim, "--snapshot", "pipe"], "pipe", 0, b"RIFF"),
        ([SIGNAL, "--minutes", "0.1", "--output", "pipe.wav"], "pipe.wav", 0, b"RIFF"),
        ([DECODE, *sim, "--snapshot", "sock"], "sock", 4, None),
        ([DECODE, *sim, "--chart", "sock"], "sock", 4, None),
        ([DECODE, *sim, "--chart", "blockdev"], "blockdev", 4, None),
        ([SIGNAL, "--minutes", "0.1", "--output", "sock"], "sock", 3, None),
    ]
    for args, node, want, head in cases:
        path = os.path.join(d, node)
        if not os.path.lexists(path):
            continue
        before = kind(path)
        r = reader(path) if stat.S_ISFIFO(before) else None
        p = subprocess.run(args, cwd=d, capture_output=True, timeout=120)
        if r is not None:
            r.join(10)
            if r.is_alive():  # the program never opened the FIFO: let the reader go
                try:
                    os.close(os.open(path, os.O_WRONLY | os.O_NONBLOCK))
                except OSError:
                    pass
                r.join(5)
        got = r.result if r is not None else None
        name = f"{os.path.basename(args[0])} {' '.join(args[-2:])}"
        check(f"{name}: exit {want}, the {node} is still what it was",
              p.returncode == want and kind(path) == before, p.stderr.decode()[-300:])
        if head is not None:
            check(f"{name}: the reader got the whole output", got is not None and got.startswith(head), got[:8] if got else got)
        if want != 0:
            check(f"{name}: says what the name is", b"socket" in p.stderr or b"block device" in p.stderr, p.stderr)
    # The program's own standard output by name.
    p = subprocess.run([DECODE, *sim, "--json", "--chart", "/dev/stdout"], cwd=d, capture_output=True, timeout=120)
    check("--chart /dev/stdout: the PNG on standard output", p.returncode == 0 and b"\x89PNG" in p.stdout, p.stderr)
    check("no temporary file beside a refused or missing name", not [f for f in os.listdir(d) if ".part" in f])
    # No output over the recording being decoded, by any name.
    os.link(rec, os.path.join(tmp, "same.wav"))
    for opt, name in [("--chart", "recording.wav"), ("--chart", "same.wav"), ("--snapshot", "same.wav")]:
        code, _, err = decode(["--input", rec, *DCF, opt, name], tmp)
        check(f"{opt} {name} over the recording: usage error, recording kept",
              code == 2 and "would replace" in err and os.path.getsize(rec) == size, err)


def refused_options(tmp, rec):
    """8. What cannot work is a usage error that says why."""
    cases = [
        ([DECODE, "--input", rec, "--refclock", "shm:7"], "recording is not a clock"),
        ([DECODE, "--input", rec, "--realtime", "--refclock", "sock:/tmp/x.sock"], "recording is not a clock"),
        ([DECODE, "--simulate", "--refclock", "shm:7", "--refclock", "shm:7"], "twice"),
        ([DECODE, "--simulate", "--refclock", "sock:/tmp/a", "--refclock", "sock:/tmp/a"], "twice"),
        ([DECODE, "--simulate", *[a for u in range(5) for a in ("--refclock", f"shm:{u + 10}")]], "at most 4"),
        ([DECODE, "--simulate", "--minutes", "0x10"], "decimal"),
        ([DECODE, "--simulate", "--seed", "0x10"], "decimal"),
        ([DECODE, "--simulate", "--gain", "0x10"], "--gain"),
        ([DECODE, "--simulate", "--minutes", "inf"], "decimal"),
        ([SIGNAL, "--minutes", "0x10", "--output", "x.wav"], "decimal"),
        ([SIGNAL, "--rate", "1000", "--output", "x.wav"], "4000..384000"),
        ([SIGNAL, "--rate", "3999", "--output", "x.wav"], "4000..384000"),
    ]
    for args, words in cases:
        code, _, err = run(args, tmp)
        check(f"{os.path.basename(args[0])} {' '.join(args[1:])[:60]}: usage error naming the reason",
              code == 2 and words in err and "see " in err, err)
    check("nothing written by the refused runs", not os.path.exists(os.path.join(tmp, "x.wav")))
    # The lowest rate allowed is written and read back.
    code, _, err = run([SIGNAL, "--rate", "4000", "--minutes", "0.1", "--output", "r4k.wav"], tmp)
    c2, _, err2 = decode(["--input", "r4k.wav"], tmp)
    check("signal --rate 4000: written and read by the decoder", code == 0 and c2 == 0, (err, err2))


def signals_and_fifo_input(tmp, rec):
    """9. SIGHUP ends a run as SIGTERM does (summary, snapshot, chart); SIGUSR1 is ignored. A FIFO
    as the input says that it waits, and Ctrl-C ends the wait."""
    for sig, ends in [(signal.SIGTERM, True), (signal.SIGHUP, True), (signal.SIGUSR1, False)]:
        for f in ("sig.wav", "sig.png"):
            if os.path.exists(os.path.join(tmp, f)):
                os.remove(os.path.join(tmp, f))
        p = subprocess.Popen([DECODE, "--json", "--simulate", "--realtime", "--minutes", "0.2",
                              "--snapshot", "sig.wav", "--chart", "sig.png"],
                             cwd=tmp, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        time.sleep(3)
        p.send_signal(sig)
        try:
            out, err = p.communicate(timeout=5 if ends else 30)
        except subprocess.TimeoutExpired:
            p.kill()
            out, err = p.communicate()
        name = signal.Signals(sig).name
        written = os.path.exists(os.path.join(tmp, "sig.wav")) and os.path.exists(os.path.join(tmp, "sig.png"))
        summary_line = '"event": "summary"' in out
        check(f"{name} {'ends' if ends else 'is ignored by'} the run: exit 0, summary, snapshot and chart",
              p.returncode == 0 and summary_line and written, (p.returncode, err[-300:]))
        if not ends:
            last = max((json.loads(l)["t"] for l in out.splitlines() if l.strip()), default=0)
            check(f"{name}: the run went on to its end", last >= 11.5, last)

    fifo = os.path.join(tmp, "in.fifo")
    os.mkfifo(fifo)
    p = subprocess.Popen([DECODE, "--input", fifo], cwd=tmp, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    time.sleep(1.5)
    p.send_signal(signal.SIGINT)
    try:
        _, err = p.communicate(timeout=5)
        ended = True
    except subprocess.TimeoutExpired:
        p.kill()
        _, err = p.communicate()
        ended = False
    check("--input FIFO without a writer: says it waits, Ctrl-C ends it with exit 3",
          ended and p.returncode == 3 and "waiting for a program to write" in err, (ended, p.returncode, err))
    # A writer that comes late is read; a WAV cut short on the way says so.
    data = open(rec, "rb").read()
    for keep, want in [(len(data), 0), (len(data) // 2, 3)]:
        def write(n=keep):
            time.sleep(0.5)
            with open(fifo, "wb") as f:
                f.write(data[:n])
        w = threading.Thread(target=write, daemon=True)
        w.start()
        code, ev, err = decode(["--input", fifo, *DCF, "--clock", START], tmp)
        w.join(10)
        check(f"WAV through a FIFO, {keep} of {len(data)} bytes: exit {want}",
              code == want and ("ended early" in err) == (want == 3), (code, err))


def cut_recordings(tmp):
    """10. Recordings of every format varnol-signal writes, cut in half, and a FLAC cut to 100
    bytes: exit 3 with a reason, never a silent 0."""
    for ending in ["aiff", "au", "ogg", "flac"]:
        name = os.path.join(tmp, f"whole.{ending}")
        code, _, err = run([SIGNAL, *DCF, "--start", START, "--minutes", "3", "--snr", "20", "--output", name], tmp)
        data = open(name, "rb").read()
        for keep in [len(data), len(data) // 2] + ([100] if ending == "flac" else []):
            cut = os.path.join(tmp, f"cut{keep}.{ending}")
            with open(cut, "wb") as f:
                f.write(data[:keep])
            code, ev, err = decode(["--input", cut, *DCF, "--clock", START], tmp)
            want = 0 if keep == len(data) else 3
            check(f"{ending} {keep} of {len(data)} bytes: exit {want}" + (", one reason" if want else ""),
                  code == want and (want == 0 or len(err.strip().splitlines()) == 1), (code, err))


if __name__ == "__main__":
    sys.exit(main())
