# SPDX-License-Identifier: GPL-3.0-or-later
"""What the end-to-end scripts share: running the command-line tools, reading varnol-decode's
JSON events, and counting checks ('N passed, N failed' at the end)."""
import json
import os
import subprocess
import sys

BUILD = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else "build"
DECODE = os.path.join(BUILD, "varnol-decode")
SIGNAL = os.path.join(BUILD, "varnol-signal")
_counts = {"passed": 0, "failed": 0}


def check(name, condition, detail=""):
    if condition:
        _counts["passed"] += 1
        print(f"ok    {name}")
    else:
        _counts["failed"] += 1
        print(f"FAIL  {name} {detail}")


def run(args, cwd):
    p = subprocess.run(args, cwd=cwd, capture_output=True, text=True, timeout=300)
    return p.returncode, p.stdout, p.stderr


def decode(args, cwd):
    code, out, err = run([DECODE, "--json"] + args, cwd)
    events = [json.loads(line) for line in out.splitlines() if line.strip()]
    return code, events, err


def resets(events):
    return [e["text"] for e in events if e["event"] == "status" and e["text"].startswith("Reset")]


def clocks(events):
    return [e["utc"] for e in events if e["event"] == "clock"]


def marks(events):
    return [int(e["text"].split()[1]) for e in events if e["event"] == "status" and e["text"].startswith("mark")]


def summary():
    """Prints the closing count; returns the exit code."""
    print(f"{_counts['passed']} passed, {_counts['failed']} failed")
    return 1 if _counts["failed"] else 0
