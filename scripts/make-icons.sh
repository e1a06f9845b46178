#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Renders the program's icon (dist/icons/varnol.svg) to the PNG sizes the hicolor theme uses.
# The PNGs are checked in beside the SVG; run this again after changing the SVG.
# Needs rsvg-convert (Debian package librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/../dist/icons"
for size in 16 22 24 32 48 64 128 256; do
  rsvg-convert --width "$size" --height "$size" --output "varnol-$size.png" varnol.svg
done
