#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Where each station decodes, without and with the automatic gain: varnol-decode on the
# simulated receiver over a range of tone amplitudes (in sample units, up to full scale), at the
# receiver noise of reception_sweep.sh, counting the reset texts shown (a reset is a minute
# that decoded and followed the one before; 6 minutes from 13:05 UTC give at most 4).
# Usage: bench/gain_sweep.sh [BUILD_DIR] [MINUTES] [SNR_DB] [STATIONS...]
set -euo pipefail
BUILD=${1:-build}
MINUTES=${2:-6}
SNR=${3:-3}
shift $(( $# > 3 ? 3 : $# ))
STATIONS=${*:-msf hbg dcf77 wwvb vng rwm wwv}
DECODE=$(realpath "$BUILD/varnol-decode")
cd "$(mktemp -d)"
printf '%-6s %-6s %8s %8s   (resets of %d minutes, snr %s dB)\n' station amp plain auto "$MINUTES" "$SNR"
for station in $STATIONS; do
  for amp in 10 30 100 300 1000 3000 10000 32767; do
    plain=$("$DECODE" --simulate --station "$station" --start 2026-12-07T13:05:00Z --minutes "$MINUTES" \
            --snr "$SNR" --amplitude "$amp" | grep -c ' Reset ' || true)
    auto=$("$DECODE" --simulate --station "$station" --start 2026-12-07T13:05:00Z --minutes "$MINUTES" \
           --snr "$SNR" --amplitude "$amp" --gain auto | grep -c ' Reset ' || true)
    printf '%-6s %-6s %8d %8d\n' "$station" "$amp" "$plain" "$auto"
  done
done
