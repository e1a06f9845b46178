#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# CPU use of the clock window while it captures in real time: runs build/varnol on its own Xvfb
# display, starts the capture through the window's own Start command, lets it settle, then
# measures the process's user + system time over 60 s of wall-clock time (from /proc/PID/stat).
# Two inputs, both delivered at 8000 samples per second by a capture thread as a sound card's
# driver would: a DCF77 recording (made by varnol-signal; reading it costs about what taking
# samples from a sound card costs), and the built-in simulated receiver (which also synthesises
# the signal, sample by sample, inside the process).
#
# Usage: bench/varnol_cpu.sh [BUILD_DIR] [SECONDS]
# Prints one line per input: "varnol capture CPU (INPUT): X.XX % of one core over N s (...)",
# and one with the resident memory (VmRSS) sampled ten times over the same span, which stays
# flat when nothing accumulates while capturing.
set -euo pipefail
build=${1:-build}
seconds=${2:-60}
here=$(cd "$(dirname "$0")/.." && pwd)
varnol="$here/$build/varnol"
[ -x "$varnol" ] || { echo "no $varnol: build the varnol target first" >&2; exit 2; }
signal="$here/$build/varnol-signal"
[ -x "$signal" ] || { echo "no $signal: build the varnol-signal target first" >&2; exit 2; }

work=$(mktemp -d)
xvfb_pid=""
varnol_pid=""
cleanup() {
  [ -n "$varnol_pid" ] && kill "$varnol_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A display of our own; Xvfb tells which number it took.
exec 3<> "$work/displayfd"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp > "$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do
  display=$(head -n1 "$work/displayfd" 2>/dev/null || true)
  [ -n "$display" ] && break
  sleep 0.1
done
[ -n "${display:-}" ] || { echo "Xvfb did not start" >&2; exit 1; }

cat > "$work/script" <<SCRIPT
command 32811
command 32787
wait $(( (seconds + 30) * 1000 ))
SCRIPT
"$signal" --station dcf77 --minutes $(( (seconds + 40) / 60 + 1 )) --snr 20 --output "$work/dcf77.wav" > /dev/null

# measure LABEL ARGS...: one run of the window on the given input.
measure() {
  local label=$1
  shift
  (cd "$work" && DISPLAY=":$display" QOVEN_ROOT="$work/qoven" VARNOL_TEST_SCRIPT="$work/script" \
    exec "$varnol" "$@" > "$work/varnol.log" 2>&1) &
  varnol_pid=$!
  ticks() { awk '{print $14 + $15}' "/proc/$varnol_pid/stat"; }
  sleep 10  # start-up and the first buffers
  local t0 s0 t1 s1 hz
  rss() { awk '/^VmRSS:/ {print $2}' "/proc/$varnol_pid/status"; }
  t0=$(ticks)
  s0=$(date +%s.%N)
  local samples
  samples="$(rss)"
  for _ in $(seq 10); do
    sleep "$(awk -v s="$seconds" 'BEGIN { print s / 10 }')"
    samples="$samples $(rss)"
  done
  t1=$(ticks)
  s1=$(date +%s.%N)
  hz=$(getconf CLK_TCK)
  awk -v label="$label" -v t="$((t1 - t0))" -v hz="$hz" -v s0="$s0" -v s1="$s1" 'BEGIN {
    wall = s1 - s0
    printf "varnol capture CPU (%s): %.2f %% of one core over %.0f s (user+system ticks %d)\n", label, 100 * t / hz / wall, wall, t
  }'
  echo "varnol resident memory (${label}), kB, every $((seconds / 10)) s: $samples"
  kill "$varnol_pid" 2>/dev/null || true
  wait "$varnol_pid" 2>/dev/null || true
  varnol_pid=""
}

measure "DCF77 recording" --input "$work/dcf77.wav"
measure "simulated receiver" --simulate dcf77
echo "load average during the runs: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
