#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Decodes the same recordings with two varnol-decode programs, as plain text and as JSON, and
# says whether every line they print (status, clock, signal words, summary) and every chart is
# the same byte for byte. For a change meant to make decoding faster without changing a result:
#   bench/same_reports.sh BEFORE/varnol-decode AFTER/varnol-decode [VARNOL-SIGNAL]
# The recordings: each station simulated at 8000 Hz (16-bit WAV), too strong, weak, noisy and
# faded signals, a wrong station, other sample rates and formats (resampled), a stereo file
# with a different station on each side (left, right and the two mixed), 8-, 24- and 32-bit
# files at 8000 Hz, a fixed and an automatic gain, a first few minutes only, tones away from
# 1000 Hz at 8, 44.1 and 48 kHz and a long-wave carrier at 192 kHz (moved back before
# resampling), and the real off-air recordings when ../shared/recordings is there.
set -euo pipefail
before=$(realpath "$1")
after=$(realpath "$2")
signal=$(realpath "${3:-$(dirname "$after")/varnol-signal}")
here=$(cd "$(dirname "$0")/.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
start=2026-12-07T13:05:00Z

make_signal() {  # NAME STATION MINUTES [varnol-signal options...]
  local name=$1 station=$2 minutes=$3
  shift 3
  "$signal" --station "$station" --start "$start" --minutes "$minutes" --output "$tmp/$name" "$@"
}

for s in msf hbg dcf77 wwvb vng rwm wwv wwvh; do make_signal "$s.wav" "$s" 8 --snr 6; done
make_signal hour.wav dcf77 60
make_signal strong.wav dcf77 6 --amplitude 32767
make_signal weak.wav dcf77 6 --amplitude 10
make_signal noisy.wav msf 6 --snr -6
make_signal faded.wav wwvb 8 --fade 0.8 --seed 3
make_signal fast.wav hbg 6 --card-blocks-per-minute 3780
make_signal r44k.wav dcf77 5 --rate 44100
make_signal r4k.wav msf 5 --rate 4000
make_signal dcf77.flac dcf77 5
make_signal dcf77.ogg dcf77 4
make_signal msf.aiff msf 4
make_signal right.wav msf 6 --seed 9 --snr 0
# Tones a receiver put elsewhere, moved back at the file's own rate before resampling.
make_signal t747.wav dcf77 6 --tone 747 --level 0.3 --snr 10
make_signal t747r44k.wav dcf77 6 --tone 747 --level 0.3 --snr 10 --rate 44100
make_signal t1733r48k.wav msf 6 --tone 1733 --level 0.5 --snr 6 --rate 48000
make_signal c77k5r192k.flac dcf77 4 --tone 77500 --level 0.2 --snr 10 --rate 192000
# A stereo file (DCF77 left, MSF right) and the DCF77 file as 8-, 24- and 32-bit samples.
python3 - "$tmp" <<'EOF'
import struct, sys, wave
d = sys.argv[1]
def frames(name):
    with wave.open(f"{d}/{name}") as w:
        return w.getparams(), w.readframes(w.getnframes())
p, left = frames("dcf77.wav")
_, right = frames("right.wav")
n = min(len(left), len(right)) // 2
l = struct.unpack(f"<{n}h", left[:2 * n])
r = struct.unpack(f"<{n}h", right[:2 * n])
with wave.open(f"{d}/stereo.wav", "wb") as w:
    w.setnchannels(2); w.setsampwidth(2); w.setframerate(8000)
    w.writeframes(struct.pack(f"<{2 * n}h", *[v for pair in zip(l, r) for v in pair]))
for width in (1, 3, 4):
    with wave.open(f"{d}/w{8 * width}.wav", "wb") as w:
        w.setnchannels(1); w.setsampwidth(width); w.setframerate(8000)
        out = bytearray()
        for v in l:
            if width == 1:
                out.append((v >> 8) + 128)
            elif width == 3:
                out += (v * 256 + 0x35 * (v & 1)).to_bytes(3, "little", signed=True)
            else:
                out += (v * 65536 + 0x1234 * (v & 3)).to_bytes(4, "little", signed=True)
        w.writeframes(bytes(out))
EOF

cases=()
for s in msf hbg dcf77 wwvb vng rwm wwv; do cases+=("$s.wav|--station $s"); done
cases+=(
  "wwvh.wav|--station wwv"
  "hour.wav|--station dcf77"
  "hour.wav|--station msf --minutes 7"
  "strong.wav|--station dcf77"
  "strong.wav|--station dcf77 --gain auto"
  "weak.wav|--station dcf77 --gain 20"
  "weak.wav|--station dcf77"
  "noisy.wav|--station msf"
  "faded.wav|--station wwvb"
  "fast.wav|--station hbg --adjust-calibration"
  "r44k.wav|--station dcf77"
  "r4k.wav|--station msf"
  "dcf77.flac|--station dcf77"
  "dcf77.ogg|--station dcf77"
  "msf.aiff|--station msf"
  "msf.wav|--station dcf77"
  "stereo.wav|--station dcf77"
  "stereo.wav|--station msf --channel right"
  "stereo.wav|--station dcf77 --channel mix"
  "w8.wav|--station dcf77"
  "w24.wav|--station dcf77"
  "w32.wav|--station dcf77"
  "dcf77.wav|--station dcf77 --minutes 2.5"
  "dcf77.wav|--station dcf77 --offset 1 --blocks-per-minute 3750"
  "t747.wav|--station dcf77"
  "t747r44k.wav|--station dcf77"
  "t1733r48k.wav|--station msf"
  "c77k5r192k.flac|--station dcf77 --tone 77500"
)
recordings="$here/../shared/recordings"
[ -d "$recordings" ] || recordings="$here/../../shared/recordings"
if [ -f "$recordings/dcf77_websdr_20230625_747Hz_7119sps.flac" ]; then
  cases+=("$recordings/dcf77_websdr_20230625_747Hz_7119sps.flac|--station dcf77"
          "$recordings/wwv_hamsci_20250227_0008_16000sps.flac|--station wwv")
fi

same=0 differ=0
for c in "${cases[@]}"; do
  file=${c%%|*}
  opts=${c#*|}
  [[ $file == /* ]] || file="$tmp/$file"
  for json in "" --json; do
    for side in before after; do
      prog=$before
      [ "$side" = after ] && prog=$after
      # shellcheck disable=SC2086
      (cd "$tmp" && "$prog" --input "$file" $opts $json --clock 2026-12-07T13:05:00Z \
        --chart "$tmp/$side.png" >"$tmp/$side.out" 2>"$tmp/$side.err"; echo "exit $?" >>"$tmp/$side.out")
    done
    if cmp -s "$tmp/before.out" "$tmp/after.out" && cmp -s "$tmp/before.err" "$tmp/after.err" &&
       cmp -s "$tmp/before.png" "$tmp/after.png"; then
      same=$((same + 1))
      printf 'same    %-44s %s %s (%d lines)\n' "$(basename "$file")" "$opts" "$json" "$(wc -l <"$tmp/after.out")"
    else
      differ=$((differ + 1))
      printf 'DIFFER  %-44s %s %s\n' "$(basename "$file")" "$opts" "$json"
      diff "$tmp/before.out" "$tmp/after.out" | head -5 || true
      diff "$tmp/before.err" "$tmp/after.err" | head -5 || true
    fi
  done
done
echo "$same same, $differ different"
[ "$differ" -eq 0 ]
