#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# CI: the Debian package. Builds it from a clean copy of the checkout (one Release build without
# the tests), checks it with lintian, installs it with apt, runs the installed programs, checks
# the man pages, the desktop entry, the metainfo and the service unit, then removes and purges it
# and checks that nothing of it is left behind. Needs root; changes the machine (CI's is fresh).
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive

step() { printf '\n== %s\n' "$*"; }
fail() { echo "ci-package: FAIL: $*" >&2; exit 1; }
installed() { dpkg-query -W -f='${Status}' varnol 2>/dev/null | grep -q 'ok installed'; }

bash scripts/install-deps.sh package
if dpkg-query -W varnol >/dev/null 2>&1; then
  echo "ci-package: a varnol package is on this machine already; purging it first"
  apt-get purge -y -qq varnol >/dev/null
fi

step "building the package"
# VARNOL_DEB names a package built already (to check it again without building it again).
deb="${VARNOL_DEB:-$(bash scripts/build-deb.sh | tail -n 1)}"
echo "$deb"

step "lintian"
lintian --fail-on error "$deb" ||
  fail "lintian reports errors"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
find /usr /etc /lib -xdev | sort >"$work/before"

step "installing"
apt-get install -y -qq --no-install-recommends "$deb" >"$work/apt.log" 2>&1 || {
  cat "$work/apt.log"; fail "apt-get install $deb"; }
installed || fail "varnol is not installed after apt-get install"
dpkg -L varnol | sort >"$work/files"

step "the installed programs"
for p in varnol varnol-decode varnol-signal varnol-setup; do
  [ "$(command -v "$p")" = "/usr/bin/$p" ] || fail "$p is not in /usr/bin"
done
mkdir -p "$work/run" && cd "$work/run"
QOVEN_ROOT="$work/qoven" TZ=UTC /usr/bin/varnol-decode --simulate --station dcf77 \
  --start 2026-12-07T13:05:00Z --minutes 3 >"$work/decode.txt" || fail "varnol-decode exited with $?"
cat "$work/decode.txt"
grep -q 'status  Reset [0-9][0-9]:[0-9][0-9]' "$work/decode.txt" || fail "varnol-decode decoded no minute"
grep -q 'clock   2026-12-07T13:0[6-8]:01Z' "$work/decode.txt" || fail "varnol-decode wrote no clock step"
/usr/bin/varnol --help >"$work/help.txt" || fail "varnol --help exited with $?"
grep -q '^Usage: varnol' "$work/help.txt" || fail "varnol --help printed no usage"
/usr/bin/varnol-signal --station msf --start 2026-12-07T13:05:00Z --minutes 1 --output "$work/msf.wav" ||
  fail "varnol-signal exited with $?"
[ -s "$work/msf.wav" ] || fail "varnol-signal wrote nothing"
cd - >/dev/null

step "man pages"
for page in varnol varnol-decode varnol-signal varnol-setup; do
  file="$(man -w "$page")" || fail "man -w $page finds no page"
  echo "$page: $file"
  warnings="$(MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null)"
  [ -z "$warnings" ] || fail "man --warnings $page: $warnings"
done

step "desktop entry, metainfo, icons, completion"
desktop-file-validate /usr/share/applications/varnol.desktop || fail "desktop-file-validate"
appstreamcli validate --no-net /usr/share/metainfo/io.github.varnol.varnol.metainfo.xml || fail "appstreamcli validate"
[ -f /usr/share/icons/hicolor/scalable/apps/varnol.svg ] || fail "no scalable icon"
[ -f /usr/share/icons/hicolor/48x48/apps/varnol.png ] || fail "no 48x48 icon"
[ "$(grep -l 'Exec=varnol-setup' /usr/share/applications/*.desktop 2>/dev/null)" = "" ] ||
  fail "the installer has a menu entry"
for c in varnol-decode varnol-signal; do
  bash -c "source /usr/share/bash-completion/bash_completion &&
           source /usr/share/bash-completion/completions/$c && complete -p $c" >/dev/null ||
    fail "bash completion for $c does not load"
done

step "reference-clock service"
unit=/lib/systemd/system/varnol-refclock.service
systemd-analyze verify "$unit" || fail "systemd-analyze verify $unit"
state="$(systemctl is-enabled varnol-refclock.service 2>/dev/null || true)"
[ "$state" = "disabled" ] || fail "varnol-refclock.service is '$state', not disabled"
getent passwd varnol >/dev/null || fail "no system user varnol"
id -nG varnol | tr ' ' '\n' | grep -qx audio || fail "the user varnol is not in the group audio"
[ -f /etc/default/varnol-refclock ] || fail "no /etc/default/varnol-refclock"

step "removing"
apt-get remove -y -qq varnol >>"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get remove"; }
left=""
while IFS= read -r f; do
  case "$f" in /usr/*|/lib/*) [ -e "$f" ] && [ ! -d "$f" ] && left+="$f"$'\n' ;; esac
done <"$work/files"
[ -z "$left" ] || fail "left in /usr after removal: $left"
# Nothing new in /usr that no package owns (dependencies that apt pulled in own theirs).
find /usr /lib -xdev | sort | comm -13 "$work/before" - | while IFS= read -r f; do
  [ -d "$f" ] && continue
  case "$f" in */icon-theme.cache) continue ;; esac
  dpkg -S "$f" >/dev/null 2>&1 || echo "$f"
done >"$work/stray"
[ ! -s "$work/stray" ] || fail "files left in /usr after removal: $(cat "$work/stray")"
if find /usr -xdev -name '*varnol*' | grep -q .; then
  fail "left in /usr: $(find /usr -xdev -name '*varnol*')"
fi

step "purging"
apt-get purge -y -qq varnol >>"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get purge"; }
for f in /etc/default/varnol-refclock /var/lib/varnol; do
  [ ! -e "$f" ] || fail "$f is left after purge"
done
dpkg-query -W varnol >/dev/null 2>&1 && fail "dpkg still knows varnol after purge"
echo
echo "ci-package: the package builds, installs, runs and removes cleanly"
