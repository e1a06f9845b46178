#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The window programs of a sanitizer build (make asan-gui) started under Xvfb, worked a little
# and closed: the installer's window test (install, About, Exit, no script), and the clock
# window's signal test (the shipped program idle, then the test build capturing, in dialogs, a
# box over a dialog, the help window, context help, an open menu). Any report of the address or
# undefined-behaviour sanitizer ends the program with an error, which fails the test it is in.
#
#   sanitized_windows.sh BUILD_DIR
#
# Leak detection is off here: GTK, GLib, fontconfig and X keep caches for the life of the
# process and free none of them at exit, and every allocation of a window program is made
# beneath their event loop, so no suppression could tell the program's leaks from theirs. The
# unit tests (ctest -L unit in the same build) keep it on.
set -uo pipefail
build=$(readlink -f "$1")
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
driver="$build/tests/gui/setup_gui_driver"
for p in "$build/setup" "$driver" "$build/varnol" "$build/varnol-test"; do
  [ -x "$p" ] || { echo "FAIL: no $p (build the window programs with the sanitizers)"; exit 1; }
done
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
failed=0
run() {
  local name=$1
  shift
  if "$@" > "$out/$name.log" 2>&1; then
    echo "ok    $name"
  else
    echo "FAIL  $name"
    tail -n 60 "$out/$name.log"
    failed=1
  fi
}
# The installer's test on a display of its own (Xvfb picks a free number and tells it).
exec 3<> "$out/displayfd"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp > "$out/xvfb.log" 2>&1 &
xvfb_pid=$!
trap 'kill "$xvfb_pid" 2>/dev/null; rm -rf "$out"' EXIT
display=""
for _ in $(seq 50); do
  display=$(head -n1 "$out/displayfd" 2>/dev/null || true)
  [ -n "$display" ] && break
  sleep 0.1
done
[ -n "$display" ] || { echo "FAIL: Xvfb did not start"; exit 1; }
DISPLAY=":$display" run setup bash "$here/setup_gui_test.sh" "$build/setup" "$driver" "$out/setup"
# A display that went away shows in the X server's own log.
[ "$failed" -eq 0 ] || { echo "--- Xvfb on :$display"; cat "$out/xvfb.log"; }
kill "$xvfb_pid" 2>/dev/null
run varnol bash "$here/varnol_window_gui.sh" "$build/varnol-test" signals
exit "$failed"
