#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs every benchmark program, then times varnol-decode on a one-hour DCF77 recording (file
# reading and the whole loop). Figures are real-time factors and ratios from the same run.
# bench_decode_floor runs this build's varnol-decode on a one-hour recording in turns with the
# bare transform of every block, and gives the ratio of their CPU times; set
# VARNOL_DECODE_BEFORE to another build's varnol-decode to time it in the same turns.
set -euo pipefail
BUILD=${1:-build}
VARNOL_DECODE="$(cd "$BUILD" && pwd)/varnol-decode"
export VARNOL_DECODE
for b in "$BUILD"/bench/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  # (the simulated weeks of the robust lock, two hours on two cores, only when asked for:
  # build/bench/bench_robust_lock_sweep --benchmark_filter=BM_Week)
  filter=.
  [ "$(basename "$b")" = bench_robust_lock_sweep ] && filter='BM_(Lock|Soak)'
  "$b" --benchmark_counters_tabular=true --benchmark_filter="$filter"
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# Rated as a recorder rates it (its header rate is its true rate): it decodes at 3750 blocks a minute.
"$BUILD"/varnol-signal --station dcf77 --start 2026-12-07T13:05:00Z --minutes 60 \
  --output "$tmp/hour.wav"
echo "== varnol-decode on a one-hour 8 kHz DCF77 recording"
start=$(date +%s.%N)
(cd "$tmp" && "$OLDPWD/$BUILD"/varnol-decode --input "$tmp/hour.wav" --clock 2026-12-07T13:05:00Z > "$tmp/out.txt")
end=$(date +%s.%N)
resets=$(grep -c 'Reset' "$tmp/out.txt" || true)
awk -v s="$start" -v e="$end" -v r="$resets" \
  'BEGIN { t = e - s; printf "wall %.3f s for 3600 s of audio: %.0f x real time; %d reset texts\n", t, 3600 / t, r }'
