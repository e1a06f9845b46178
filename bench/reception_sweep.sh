#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Where decoding holds: runs varnol-decode on the simulated receiver for a grid of noise levels,
# tone amplitudes and sound-card rates, and prints, for each, the minute markers seen and the
# reset texts shown (a reset is a minute that decoded and followed the one before).
# Usage: bench/reception_sweep.sh [BUILD_DIR] [STATION] [MINUTES]
set -euo pipefail
BUILD=${1:-build}
STATION=${2:-dcf77}
MINUTES=${3:-30}
DECODE=$BUILD/varnol-decode
cd "$(mktemp -d)"
printf '%-8s %-6s %-22s %6s %7s  (of %d minutes)\n' snr_dB amp card_blocks_per_min marks resets "$MINUTES"
for card in 3756 "3760 --adjust-calibration" "3752 --adjust-calibration"; do
  for amp in 100 300 600 1500 3000; do
    for snr in -5 0 3 6 10 20 30; do
      out=$("$DECODE" --simulate --station "$STATION" --start 2026-12-07T13:05:00Z --minutes "$MINUTES" \
            --snr "$snr" --amplitude "$amp" --card-blocks-per-minute $card)
      printf '%-8s %-6s %-22s %6d %7d\n' "$snr" "$amp" "$card" \
        "$(grep -c ' mark ' <<<"$out" || true)" "$(grep -c ' Reset ' <<<"$out" || true)"
    done
  done
done
