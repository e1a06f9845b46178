#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Each program's manual page documents every option its --help prints and every exit code its
--help lists, and renders without warnings; and the other way round, every option the page names
exists (in this program's --help, or in the --help of the program named just before it, as in
"*varnol*(1) *--input*"), and every menu of the clock window the page names ("the *Setup* menu",
"*Setup* > *PC clock offset*") is in the window's menu table in the source.

usage: man_pages_test.py PROGRAM PAGE_SOURCE [ROFF_PAGE] [NAME=PROGRAM ...]
The NAME=PROGRAM pairs are the other programs a page may name, with their --help.
Exits 77 (skipped) only when the program cannot print its help without a display."""
import os
import re
import shutil
import subprocess
import sys

SKIP = 77


OPTION = r"(?<![\w-])(--[a-z][a-z0-9-]*)"


def help_of(program):
    """(text, None) or (None, why)."""
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    try:
        run = subprocess.run([program, "--help"], capture_output=True, text=True, timeout=60, env=env)
    except subprocess.TimeoutExpired:
        return None, f"{program} --help did not end within 60 s"
    if run.returncode != 0:
        return None, f"{program} --help exited with {run.returncode}: {run.stderr.strip()}"
    return run.stdout, None


def window_menus(source_root):
    """{menu: [items]} and the commands on the bar itself, from the window's menu table: each
    menu built as `auto* NAME = new wxMenu;`, its items `item(NAME, cmd::ID, "Text" ...)`, put on
    the bar with `bar->Append(NAME, "Title")`; bar commands by `MenuBarCommand::Insert(bar, N,
    "Title" ...)`. Mnemonic ampersands are dropped."""
    path = os.path.join(source_root, "src", "app", "wx_main_frame.cpp")
    code = open(path, encoding="utf-8").read()
    plain = lambda t: t.replace("&", "")
    items = {}
    for var, text in re.findall(r'item\((\w+),\s*cmd::\w+,\s*"([^"]+)"', code):
        items.setdefault(var, []).append(plain(text))
    menus = {plain(title): items.get(var, []) for var, title in re.findall(r'bar->Append\((\w+),\s*"([^"]+)"\)', code)}
    commands = [plain(t) for t in re.findall(r'MenuBarCommand::Insert\(bar,\s*\d+,\s*"([^"]+)"', code)]
    return menus, commands


def main():
    program, source = sys.argv[1], sys.argv[2]
    roff = None
    others = {}
    for arg in sys.argv[3:]:
        if "=" in arg:
            name, path = arg.split("=", 1)
            others[name] = path
        else:
            roff = arg
    help_text, why = help_of(program)
    if help_text is None:
        if re.search(r"GTK|DISPLAY|display", why):
            print(f"SKIP: {program} --help needs a display: {why}")
            return SKIP
        print(f"FAIL: {why}")
        return 1
    page = open(source, encoding="utf-8").read()
    page_name = os.path.basename(source)

    failures = []
    options = sorted(set(re.findall(OPTION, help_text)))
    if not options:
        failures.append(f"{program} --help lists no options at all")
    # An option is documented when the page has an entry for it: a line that starts with it in
    # bold, as scdoc's option lists do ("*--station* _NAME_").
    entries = set(re.findall(r"^\*(--[a-z][a-z0-9-]*)\*", page, re.M))
    for option in options:
        if option not in entries:
            failures.append(f"{option} (in --help) has no entry in {page_name}")

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

    # Every option the page names exists: in the prose, this program's or that of the program
    # named just before it ("*varnol-decode*(1) *--input*"); in an example, that of the command
    # the example runs (other commands' options, systemctl's --now, are theirs).
    this = os.path.splitext(os.path.splitext(page_name)[0])[0]  # varnol-decode.1.scd -> varnol-decode
    helps = {this: help_text}

    def check_option(owner, option):
        if owner not in helps:
            if owner not in others:
                failures.append(f"{page_name} names {option} of {owner}, whose --help this test was not given")
                return
            helps[owner], why = help_of(others[owner])
            if helps[owner] is None:
                failures.append(why)
        if helps[owner] is not None and option not in set(re.findall(OPTION, helps[owner])):
            failures.append(f"{page_name} names {option}, which {owner} --help does not list")

    prose = re.sub(r"^```.*?^```", "", page, flags=re.M | re.S)
    for m in re.finditer(r"(?:\*([a-z-]+)\*\(1\)\s+)?\*?" + OPTION, prose):
        check_option(m.group(1) or this, m.group(2))
    for block in re.findall(r"^```\n(.*?)^```", page, flags=re.M | re.S):
        for line in block.splitlines():
            for command in re.split(r"&&|\|\||[|;]", line):
                words = command.split()
                while words and words[0] in ("sudo", "env"):
                    words = words[1:]
                if words and (words[0] in others or words[0] == this):
                    for option in re.findall(OPTION, command):
                        check_option(words[0], option)

    # Every menu of the window the page names is on the window's menu bar, with the item named.
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(source))))
    named_menus = re.findall(r"\*([^*\n]+)\*\s+menu\b", page)
    paths = re.findall(r"\*([^*\n]+)\*\s+>\s+\*([^*\n]+)\*", page)
    if named_menus or paths:
        menus, commands = window_menus(root)
        if not menus:
            failures.append("no menus found in src/app/wx_main_frame.cpp: has the menu table moved?")
        for name in named_menus:
            if name not in menus:
                failures.append(f"{page_name} names the menu '{name}'; the window's menus are {sorted(menus)}"
                                f" (commands on the bar: {commands})")
        for menu, item in paths:
            if item not in menus.get(menu, []):
                failures.append(f"{page_name} names '{menu} > {item}', which is not in the window's menu table")

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
