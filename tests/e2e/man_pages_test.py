#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Each program's manual page documents every option its --help prints and every exit code its
--help lists, and renders without warnings.

usage: man_pages_test.py PROGRAM PAGE_SOURCE [ROFF_PAGE]
Exits 77 (skipped) only when the program cannot print its help without a display."""
import os
import re
import shutil
import subprocess
import sys

SKIP = 77


def main():
    program, source = sys.argv[1], sys.argv[2]
    roff = sys.argv[3] if len(sys.argv) > 3 else None
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    try:
        run = subprocess.run([program, "--help"], capture_output=True, text=True, timeout=60, env=env)
    except subprocess.TimeoutExpired:
        print(f"FAIL: {program} --help did not end within 60 s")
        return 1
    if run.returncode != 0:
        if re.search(r"GTK|DISPLAY|display", run.stderr):
            print(f"SKIP: {program} --help needs a display: {run.stderr.strip()}")
            return SKIP
        print(f"FAIL: {program} --help exited with {run.returncode}: {run.stderr.strip()}")
        return 1
    help_text = run.stdout
    page = open(source, encoding="utf-8").read()

    failures = []
    options = sorted(set(re.findall(r"(?<![\w-])(--[a-z][a-z0-9-]*)", help_text)))
    if not options:
        failures.append(f"{program} --help lists no options at all")
    # An option is documented when the page has an entry for it: a line that starts with it in
    # bold, as scdoc's option lists do ("*--station* _NAME_").
    entries = set(re.findall(r"^\*(--[a-z][a-z0-9-]*)\*", page, re.M))
    for option in options:
        if option not in entries:
            failures.append(f"{option} (in --help) has no entry in {os.path.basename(source)}")

    # "Exit codes: 0 done, 2 usage error, 3 ..." -> each number has an entry under EXIT STATUS.
    codes = re.search(r"Exit codes?:(.*?)(?:\n\n|\Z)", help_text, re.S)
    status = re.search(r"^# EXIT STATUS\n(.*?)(?=^# )", page, re.M | re.S)
    if codes:
        if not status:
            failures.append(f"{os.path.basename(source)} has no EXIT STATUS section")
        else:
            documented = set(re.findall(r"^\*(\d+)\*", status.group(1), re.M))
            for code in re.findall(r"(?<![\w.-])(\d+)(?= )", codes.group(1)):
                if code not in documented:
                    failures.append(f"exit code {code} (in --help) is not under EXIT STATUS")

    if roff:
        if shutil.which("man") is None:
            failures.append("man (man-db) is not installed: cannot check the page's rendering")
        else:
            render = subprocess.run(["man", "--warnings", "-l", roff], capture_output=True, text=True,
                                    env=dict(os.environ, MANPAGER="cat", PAGER="cat", MANWIDTH="80"))
            if render.returncode != 0 or render.stderr.strip():
                failures.append(f"man --warnings -l {roff}: {render.stderr.strip() or render.returncode}")

    for f in failures:
        print("FAIL:", f)
    if not failures:
        print(f"{program}: {len(options)} options and the exit codes documented")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
