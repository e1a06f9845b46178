#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The sound-card backend against a real sound server: a private PulseAudio daemon with a null
# sink, a simulated DCF77 recording played into it, and varnol-decode --device capturing the
# sink's monitor through PortAudio (ALSA's default device goes to PulseAudio while it runs);
# then the same at 192 kHz with the long-wave carrier itself.
# Skips (exit 77) only when PulseAudio cannot run here, saying why.
set -u
BUILD=$1
DECODE=$BUILD/varnol-decode
SIGNAL=$BUILD/varnol-signal
work=$(mktemp -d)
export XDG_RUNTIME_DIR=$work/runtime HOME=$work/home
mkdir -p "$XDG_RUNTIME_DIR" "$HOME"
chmod 700 "$XDG_RUNTIME_DIR"
unset PULSE_SERVER
passed=0
failed=0
check() {  # name, condition result (0 = true)
  if [ "$2" -eq 0 ]; then passed=$((passed + 1)); echo "ok    $1"; else failed=$((failed + 1)); echo "FAIL  $1"; fi
}
cleanup() {
  pactl exit >/dev/null 2>&1 || true
  [ -n "${player:-}" ] && kill "$player" 2>/dev/null
  sleep 0.3
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"

# Without any sound server or card, Start says why it could not open the device, in a few
# lines of its own: ALSA's and JACK's chatter about absent cards and servers is hidden.
if [ -z "$("$DECODE" --list-devices 2>"$work/list0")" ]; then
  grep -qx 'varnol-decode: no input devices' "$work/list0"; check "no device: --list-devices says so" $?
  "$DECODE" --device --minutes 0.1 >"$work/out0" 2>"$work/err0"
  code=$?
  grep -q '^On opening the wave device\.\.$' "$work/err0" && grep -q '^The sound device does not exist$' "$work/err0"
  check "no device: exit 3 with the wave-device message" $(( code == 3 ? $? : 1 ))
  ! grep -qiE 'ALSA lib|jack' "$work/err0" && [ "$(wc -l <"$work/err0")" -le 3 ]
  check "no device: no audio-library chatter ($(wc -l <"$work/err0") lines)" $?
fi

if ! command -v pulseaudio >/dev/null; then
  echo "SKIP: pulseaudio is not installed"; exit 77
fi
if ! pulseaudio --daemonize=yes --exit-idle-time=-1 -n --load=module-native-protocol-unix \
     --load="module-null-sink sink_name=vsink" --log-target=file:"$work/pulse.log" 2>"$work/pulse.err"; then
  echo "SKIP: PulseAudio cannot run on this machine: $(tail -n 3 "$work/pulse.err" "$work/pulse.log" 2>/dev/null | tr '\n' ' ')"
  exit 77
fi
for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
if ! pactl set-default-source vsink.monitor; then
  echo "SKIP: PulseAudio started but has no null sink monitor"; exit 77
fi

# Three minutes of DCF77 from 13:05 UTC, played from 13:05:10, so that the ring holds the time
# code of minute 13:05 (seconds 17 to 35) when its marker arrives after about 51 s; the next
# marker, some 60 s later, brings the consecutive minute.
"$SIGNAL" --station dcf77 --start 2026-12-07T13:05:00Z --minutes 3 --output full.wav || exit 1
python3 - <<'PY' || exit 1
import wave
with wave.open("full.wav", "rb") as src, wave.open("play.wav", "wb") as dst:
    dst.setparams(src.getparams())
    src.setpos(int(10 * src.getframerate()))
    dst.writeframes(src.readframes(src.getnframes()))
PY

"$DECODE" --device --minutes 1.95 --json >"$work/out" 2>"$work/err" &
decoder=$!
sleep 1
paplay --device=vsink play.wav &
player=$!
wait $decoder
code=$?
check "device capture: exit 0" $(( code == 0 ? 0 : 1 ))
grep -q '"text": "decoding... "' "$work/out"; check "device capture: started" $?
grep -q '"text": "mark ' "$work/out"; check "device capture: minute marks seen" $?
grep -q '"text": "Reset 14:07 UT+1"' "$work/out"; check "device capture: a consecutive minute decoded" $?
grep -q '"event": "clock", "utc": "[0-9-]*T13:07:01Z", "written": false' "$work/out"
check "device capture: the clock step is a dry run at 13:07:01 UTC" $?
if [ "$failed" -ne 0 ]; then
  echo "--- decoder output"; cat "$work/out"; echo "--- decoder errors"; tail -n 20 "$work/err"
fi

# A card at 192 kHz taking DCF77's 77.5 kHz carrier straight from the antenna: a null sink at
# that rate, the carrier written by varnol-signal at 192 kHz, and varnol-decode --tone 77500
# capturing at the card's rate and moving the carrier to 1000 Hz on the way.
if pactl load-module module-null-sink sink_name=vsink192 rate=192000 >/dev/null &&
   pactl set-default-source vsink192.monitor; then
  # A strong carrier, as an antenna beside the card gives it: what this checks is the path at
  # 192 kHz (the card's rate, the move, the averaging down), not the decoder's noise limit.
  "$SIGNAL" --station dcf77 --start 2026-12-07T13:05:00Z --minutes 3 --tone 77500 --rate 192000 \
    --snr 20 --output carrier.wav || exit 1
  python3 - <<'PY' || exit 1
import wave
with wave.open("carrier.wav", "rb") as src, wave.open("play192.wav", "wb") as dst:
    dst.setparams(src.getparams())
    src.setpos(int(10 * src.getframerate()))
    dst.writeframes(src.readframes(src.getnframes()))
PY
  rm -f carrier.wav
  "$DECODE" --device --tone 77500 --minutes 1.95 --json >"$work/out192" 2>"$work/err192" &
  decoder=$!
  sleep 1
  paplay --device=vsink192 play192.wav &
  player=$!
  wait $decoder
  code=$?
  check "192 kHz carrier: exit 0" $(( code == 0 ? 0 : 1 ))
  grep -q '"event": "tone".*at the sound card.s 192000 samples a second' "$work/out192"
  check "192 kHz carrier: the card opened at 192 kHz and the carrier moved" $?
  grep -q '"text": "Reset 14:07 UT+1"' "$work/out192"; check "192 kHz carrier: a consecutive minute decoded" $?
  grep -q '"event": "clock", "utc": "[0-9-]*T13:07:01Z", "written": false' "$work/out192" &&
    ! grep '"event": "clock"' "$work/out192" | grep -qv 'T13:07:01Z'
  check "192 kHz carrier: the clock step names 13:07:01 UTC and no other" $?
  if [ "$failed" -ne 0 ]; then
    echo "--- decoder output"; cat "$work/out192"; echo "--- decoder errors"; tail -n 20 "$work/err192"
  fi
  kill "$player" 2>/dev/null
  pactl set-default-source vsink.monitor
else
  echo "skip  192 kHz carrier: this PulseAudio has no null sink at 192000 samples a second"
fi

# The sound server dies five seconds into a minute's capture: the capture stops at once as for
# a lost device (the snapshot is written), with one line of its own and exit 3.
"$DECODE" --device --minutes 1 --snapshot lost.wav >"$work/out2" 2>"$work/err2" &
decoder=$!
sleep 5
pactl exit
t0=$SECONDS
wait $decoder
code=$?
check "lost device: exit 3 within 10 s (exit $code after $((SECONDS - t0)) s)" $(( code == 3 && SECONDS - t0 <= 10 ? 0 : 1 ))
grep -qx 'varnol-decode: the sound device stopped delivering audio.*' "$work/err2"; check "lost device: says so" $?
[ "$(stat -c %s lost.wav 2>/dev/null)" = 4142 ]; check "lost device: snapshot written" $?
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
