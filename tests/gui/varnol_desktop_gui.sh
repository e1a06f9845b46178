#!/usr/bin/env bash
# The window on a Linux desktop, under Xvfb with a window manager:
#   bash varnol_desktop_gui.sh VARNOL FAKE_TIMEDATED CASE
# where CASE is clock_service, sound_input or keyboard. Runs in a temporary working folder with
# a temporary QOVEN_ROOT; the buses and the sound server are private ones started here, never the
# machine's. Set VARNOL_SHOT_DIR to keep the screenshots. Exit 77: the case cannot run here.
set -uo pipefail
varnol=$(readlink -f "$1")
fake_timedated=$(readlink -f "$2")
case_name=$3
work=$(mktemp -d)
pids=()
cleanup() {
  [ -n "${PULSE_RUNTIME_PATH:-}" ] && pactl exit >/dev/null 2>&1
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  sleep 0.2
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
export QOVEN_ROOT="$work/qoven" TZ=UTC HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset PULSE_SERVER DBUS_SESSION_BUS_ADDRESS
. "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/window_record.sh"

exec 3<> "$work/displayfd"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp > "$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do
  display=$(head -n1 "$work/displayfd" 2>/dev/null || true)
  [ -n "$display" ] && break
  sleep 0.1
done
[ -n "${display:-}" ] || { echo "Xvfb did not start"; exit 1; }
export DISPLAY=":$display"
openbox --sm-disable > "$work/wm.log" 2>&1 &
pids+=($!)
sleep 1

# run SCRIPT ARGS...: the window on the script, to its end (record in $work/out).
run() {
  local script=$1
  shift
  VARNOL_TEST_SCRIPT="$script" VARNOL_TEST_OUTPUT="$work/out" timeout 400 "$varnol" "$@" >> "$work/log" 2>&1
  local rc=$?
  [ $rc -eq 0 ] || fail "varnol exited with $rc"
  return $rc
}

case "$case_name" in
clock_service)
  # A private bus stands for the system bus; the stand-in refuses the first setting (network
  # time on) and carries out the second. The window runs on the simulated receiver, whose
  # sandbox clock sends its writes to the time service for this test: the machine's clock is
  # never asked.
  command -v dbus-daemon >/dev/null || { echo "SKIP: no dbus-daemon"; exit 77; }
  address=$(dbus-daemon --session --fork --print-address=1 --print-pid=3 3> "$work/bus.pid")
  pids+=("$(cat "$work/bus.pid")")
  export DBUS_SYSTEM_BUS_ADDRESS="$address"
  "$fake_timedated" "$work/calls" ntp,ok > "$work/fake.out" 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do grep -q ready "$work/fake.out" && break; sleep 0.1; done
  grep -q ready "$work/fake.out" || { fail "the stand-in did not start: $(cat "$work/fake.out")"; }
  cat > script <<SCRIPT
wait 300
command 32812
command 32787
wait-pane 0 PC clock not set 300
dump refused
dialog-dump refused-box
wait 500
shot $work/clock-refused.png
dialog-button 1
wait-pane 0 PC clock set ( 150
dump written
command 32902
dialog-dump report
wait 500
shot $work/signal-report.png
dialog-button 1
wait 300
close
SCRIPT
  VARNOL_TEST_CLOCK_SERVICE=1 run script --simulate dcf77
  grep -q "^TIMEOUT" "$work/out" && fail "a wait timed out: $(grep ^TIMEOUT "$work/out")"
  # Said on the message line and, once, in a message box: why, and what to do instead.
  has refused "pane0=[PC clock not set]"
  has refused "cut=[]"
  has refused-box "dialog=[Marvesta]"
  has refused-box "automatic (network) time synchronisation is on"
  has refused-box "chrony"
  has written "pane0=[PC clock set ("
  has written "cut=[]"
  # Asked twice, each time as a relative step that polkit may ask a password for.
  [ "$(grep -c 'relative=1 interactive=1' "$work/calls" 2>/dev/null)" = 2 ] ||
    fail "the time service was not asked twice as expected: $(cat "$work/calls" 2>/dev/null)"
  # The report: the signal's words, the last clock step and its age, and the lock.
  has report "dialog=[Signal report]"
  has report "Signal: Tone at 1000 Hz"
  has report "Signal-to-noise: about"
  has report "Last clock step: PC clock set ("
  has report "whole=1"
  has report "Lock: "
  lacks report "1 minutes"
  keep_shot clock-refused.png
  keep_shot signal-report.png
  ;;
sound_input)
  # A private PulseAudio with two null sinks: their monitors are listed by description, the
  # one chosen is kept with the settings and captured from the next time.
  command -v pulseaudio >/dev/null || { echo "SKIP: pulseaudio is not installed"; exit 77; }
  if ! pulseaudio --daemonize=yes --exit-idle-time=-1 -n --load=module-native-protocol-unix \
      --load="module-null-sink sink_name=other sink_properties=device.description=Other" \
      --load="module-null-sink sink_name=rx sink_properties=device.description=Receiver" \
      --log-target=file:"$work/pulse.log" 2> "$work/pulse.err"; then
    echo "SKIP: PulseAudio cannot run here: $(tail -n 3 "$work/pulse.err")"
    exit 77
  fi
  export PULSE_RUNTIME_PATH="$XDG_RUNTIME_DIR/pulse"
  for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
  cat > script <<SCRIPT
wait 500
command 32901
dialog-dump choices
wait 500
shot $work/sound-input.png
dialog-select 1101 Monitor of Receiver
dialog-button 1
wait 300
close
SCRIPT
  run script
  has choices "dialog=[Sound input]"
  has choices "Default input|"
  has choices "|Sound server: Monitor of Receiver|"
  has choices "|Sound server: Monitor of Other|"
  has choices "selected=0"
  hive_has '"Device"="pulse:rx.monitor"'
  # The next run opens the chosen source and shows it chosen.
  # The sound server's default is the other source: only the choice leads to the receiver's.
  pactl set-default-source other.monitor
  cat > script2 <<SCRIPT
wait 300
command 32787
wait 5000
dump capturing
command 32901
dialog-dump chosen
dialog-button 2
wait 300
close
SCRIPT
  run script2 &
  runner=$!
  rx=$(pactl list short sources | awk '$2 == "rx.monitor" {print $1}')
  recording_from=""
  for _ in $(seq 50); do
    recording_from=$(LC_ALL=C pactl list source-outputs 2>/dev/null | sed -n 's/^[[:space:]]*Source: //p' | head -n1)
    [ -n "$recording_from" ] && break
    sleep 0.1
  done
  wait $runner || fail "varnol exited with an error"
  [ -n "$rx" ] && [ "$recording_from" = "$rx" ] ||
    fail "the capture records from source '$recording_from', not the receiver's ($rx)"
  has capturing "stopped=0"
  matches chosen 'selected=[1-9]'
  grep -q "^chosen .*list1101=\[[^]]*\] selected=" "$work/out" || fail "no list in the second run"
  chosen=$(grep "^chosen " "$work/out" | sed 's/.*list1101=\[\([^]]*\)\] selected=\([0-9]*\).*/\1 \2/')
  entries=${chosen% *}
  index=${chosen##* }
  IFS='|' read -r -a items <<< "$entries"
  [ "${items[$index]:-}" = "Sound server: Monitor of Receiver" ] || fail "the chosen input is not shown chosen: $chosen"
  # A device that is not there: the message names it and what to check.
  cat > script3 <<SCRIPT
wait 300
command 32787
dialog-dump missing
dialog-button 1
wait 300
dump after
close
SCRIPT
  run script3 --device=no-such-card
  has missing "dialog=[Marvesta] static1002=[On opening the wave device..] static1003=[The sound device does not exist]"
  has missing 'static1004=[Input tried: the device "no-such-card"'
  has missing "Setup > Sound input"
  has missing "whole=1"
  has after "stopped=1"
  # Mistakes on the command line are answered before any window opens.
  "$varnol" --device > /dev/null 2> "$work/err1"
  [ $? -eq 2 ] && grep -q "^varnol: --device needs the name of a sound input" "$work/err1" ||
    fail "--device without a name: $(cat "$work/err1")"
  "$varnol" --device=hw:9 --simulate > /dev/null 2> "$work/err2"
  [ $? -eq 2 ] && grep -q "^varnol: choose one input: --simulate, --input or --device" "$work/err2" ||
    fail "--device with --simulate: $(cat "$work/err2")"
  keep_shot sound-input.png
  ;;
keyboard)
  # F10 and the arrow keys go through every menu; Escape leaves them, and the panes are back.
  # Alt and the underlined letter opens Setup. The window cannot be made smaller than its bars.
  cat > script <<SCRIPT
wait 1500
dump before
key f10
wait 300
key right
wait 200
key right
wait 200
key right
wait 200
key down
wait 200
shot $work/menu-open.png
key escape
wait 200
key escape
wait 200
key escape
wait 500
dump after-menus
key alt-t
wait 300
key down
wait 200
key return
wait 500
dump after-item
key f10
wait 300
key right
wait 300
key return
wait 800
dump after-bar-command
key alt-u
wait 400
shot $work/setup-menu.png
key escape
wait 400
dump after-setup
close
SCRIPT
  run script --simulate dcf77
  has before "pane1=[DCF77]"
  has after-menus "pane0=[For Help, press F1] pane1=[DCF77] pane2=[ready to start]"
  has after-item "pane0=[For Help, press F1] pane1=[HBG] pane2=[ready to start]"
  has after-bar-command "pane0=[For Help, press F1] pane1=[HBG] pane2=[decoding... ]"
  has after-setup "pane0=[For Help, press F1] pane1=[HBG] pane2=[decoding... ]"
  has after-setup "cut=[]"
  # As small as the window may be made: as wide as the bars' texts, as tall as all it shows.
  rect=$(line before | sed -n 's/.* rect=[0-9]*,[0-9]*,\([0-9]*x[0-9]*\) .*/\1/p')
  min=$(line before | sed -n 's/.* min=\([0-9]*x[0-9]*\).*/\1/p')
  [ -n "$min" ] && [ "${min%x*}" -ge 600 ] && [ "${min#*x}" -ge "${rect#*x}" ] ||
    fail "the window may be made smaller than its bars and strip: min=$min rect=$rect"
  keep_shot menu-open.png
  keep_shot setup-menu.png
  ;;
*)
  echo "unknown case $case_name"
  exit 2
  ;;
esac

if [ "$failures" -ne 0 ]; then
  echo "--- record"
  cat "$work/out"
  echo "--- log"
  tail -20 "$work/log"
  exit 1
fi
echo "gui desktop $case_name: ok"
