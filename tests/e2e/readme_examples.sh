#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs every line of the README's example block (the fenced block after "Examples:"), so that
# an example that stops working fails here: the command-line tools in a temporary folder, the
# window under Xvfb for a moment (through its test script: open, record, close). A line that
# needs a receiver on the real sound card (--device) is not run: tests never touch the
# machine's sound card, sound server or clock.
#
#   readme_examples.sh BUILD_DIR README
set -u
BUILD=$(readlink -f "$1")
README=$(readlink -f "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export QOVEN_ROOT="$work/qoven" HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset PULSE_SERVER
passed=0
failed=0
ran=0

# The block: from the first fence after the line "Examples:" to the next fence.
mapfile -t lines < <(awk '/^Examples:/ {armed = 1; next}
                          armed && /^```/ {if (inside) exit; inside = 1; next}
                          inside {print}' "$README")
[ "${#lines[@]}" -gt 0 ] || { echo "FAIL  no example block after 'Examples:' in $README"; exit 1; }

for l in "${lines[@]}"; do
  cmd=${l%%#*}  # without its comment
  cmd=$(sed -e 's/[[:space:]]*$//' <<<"$cmd")
  [ -n "$cmd" ] || continue
  read -r -a words <<<"$cmd"
  prog=${words[0]}
  case "$prog" in
    build/*) ;;
    *) echo "FAIL  example does not start with build/: $cmd"; failed=$((failed + 1)); continue ;;
  esac
  words[0]="$BUILD/${prog#build/}"
  if [[ " $cmd " == *" --device"* ]]; then
    echo "skip  $cmd  (needs a receiver on the real sound card)"
    continue
  fi
  ran=$((ran + 1))
  if [ "$prog" = build/varnol ]; then
    if ! command -v xvfb-run >/dev/null; then
      echo "skip  $cmd  (no xvfb-run to show the window)"
      continue
    fi
    printf 'wait 800\ndump example\nclose\n' >window-script
    VARNOL_TEST_SCRIPT=window-script VARNOL_TEST_OUTPUT="$work/window-out" \
      timeout 60 xvfb-run -a -s "-screen 0 1024x768x24" "${words[@]}" >out 2>err
    code=$?
    grep -q '^example ' window-out 2>/dev/null || code=99
    # The window shows the simulated station it was given, ready to start.
    if [[ "$cmd" =~ --simulate\ ([a-z0-9]+) ]] && [ "${BASH_REMATCH[1]}" != wwvh ]; then
      grep -qF "pane1=[${BASH_REMATCH[1]^^}] pane2=[ready to start]" window-out || {
        code=98; grep '^example ' window-out >>err; }
    fi
  else
    timeout 300 "${words[@]}" >out 2>err
    code=$?
  fi
  if [ "$code" -eq 0 ]; then
    passed=$((passed + 1)); echo "ok    $cmd"
  else
    failed=$((failed + 1)); echo "FAIL  $cmd  (exit $code)"; tail -n 5 err
  fi
done
[ "$ran" -gt 0 ] || { echo "FAIL  no example was run"; failed=$((failed + 1)); }
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
