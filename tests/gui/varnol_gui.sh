#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# One window test of varnol under Xvfb: bash varnol_gui.sh VARNOL CASE, where CASE is window,
# jjy, chu, dialogs, exit_capturing, wave_error, recording_end, played_recording, input_settings,
# tone_station or robust_lock. Runs in a temporary working folder with a temporary
# QOVEN_ROOT. Set VARNOL_SHOT_DIR to keep the screenshots.
set -uo pipefail
varnol=$(readlink -f "$1")
case_name=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export QOVEN_ROOT="$work/qoven"
. "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/window_record.sh"

# run SCRIPT ARGS...: runs the window on the script; the record ends up in $work/out.
run() {
  local script=$1
  shift
  VARNOL_TEST_SCRIPT="$script" VARNOL_TEST_OUTPUT="$work/out" \
    timeout "${RUN_TIMEOUT:-380}" xvfb-run -a -s "-screen 0 1024x768x24" "$varnol" "$@" > "$work/log" 2>&1
  local rc=$?
  [ $rc -eq 0 ] || fail "varnol exited with $rc"
}

case "$case_name" in
window)
  cat > script <<SCRIPT
dump initial
wait 600
dump refreshed
command 32811
wait 300
dump dcf77
command 32787
wait 3000
dump running
shot $work/window-running.png
wait-pane 2 Reset 240
dump reset
shot $work/window-reset.png
command 32812
command 32779
wait 500
dump stopped
close
SCRIPT
  run script --simulate dcf77
  # The window as it opens: its place, size and title, the panes' sample texts.
  # At the top-left corner, 600 pixels wide, tall enough for the whole strip under the toolbar.
  has initial "title=Marvesta rect=0,0,600x"
  has refreshed "view=600x82 strip_rows=82"
  has initial "pane0=[For Help, press F1] pane1=[DCF77] pane2=[Reset 22:22 UT+2] pane3=[Syn 22:22:22 -00.0] pane4=[PC 22:22:22 +00.0]"
  # The first refresh: defaults of a first run, but the simulated station already selected.
  has refreshed "pane1=[DCF77] pane2=[ready to start]"
  matches refreshed 'pane3=\[Syn [0-2][0-9]:[0-5][0-9]:[0-5][0-9]\+00\.0\] pane4=\[PC [0-2][0-9]:[0-5][0-9]:[0-5][0-9]\+00\.0\]'
  has refreshed "checked=32779,32811, autoset=[Enable] tools=01"
  has dcf77 "pane1=[DCF77] pane2=[ready to start]"
  has dcf77 "checked=32779,32811,"
  # Capturing: the strip chart has drawn columns.
  has running "checked=32787,32811, autoset=[Enable] tools=10"
  has running "stopped=0"
  lacks running "pane2=[ready to start]"
  lacks running "view_column=0 "
  # Two consecutive decoded minutes give the reset text.
  grep -q "^TIMEOUT" "$work/out" && fail "no reset text within 240 s: $(line reset)"
  matches reset 'pane2=\[Reset [0-2][0-9]:[0-5][0-9] '
  has stopped "pane2=[ready to start]"
  has stopped "checked=32779,32811,32812, autoset=[Enabled] tools=01"
  # Stop wrote the snapshot; exit wrote the four settings.
  [ "$(stat -c %s recording.wav 2>/dev/null)" = 4142 ] || fail "recording.wav is not 4142 bytes"
  [ "$(head -c 4 recording.wav 2>/dev/null)" = RIFF ] || fail "recording.wav is not RIFF"
  hive_has '"TX"=dword:00000002'
  hive_has '"AF"=dword:00000001'
  hive_has '"MS"=dword:00000eac'
  hive_has '"CO"=hex:00,00,00,00,00,00,00,00'
  keep_shot window-running.png
  keep_shot window-reset.png
  ;;
jjy | chu)
  # A station after the specified seven chosen in the Transmitter menu: its check mark and pane,
  # a reset text in the station's own time (JJY: Japan Standard Time, nine hours ahead of the
  # PC's UTC clock; CHU: UTC) and its number stored.
  if [ "$case_name" = jjy ]; then id=32823 label=JJY ahead=540 tx=7; else id=32824 label=CHU ahead=0 tx=8; fi
  cat > script <<SCRIPT
command 32811
wait 300
command $id
wait 300
dump chosen
command 32787
wait-pane 2 Reset 240
dump reset
command 32779
wait 500
close
SCRIPT
  TZ=UTC run script --simulate "$case_name"
  has chosen "pane1=[$label] pane2=[ready to start]"
  has chosen "checked=32779,$id,"
  grep -q "^TIMEOUT" "$work/out" && fail "no reset text within 240 s: $(line reset)"
  reset=$(line reset | sed -n 's/.*pane2=\[Reset \([0-9][0-9]\):\([0-9][0-9]\)\].*pane4=\[PC \([0-9][0-9]\):\([0-9][0-9]\).*/\1 \2 \3 \4/p')
  if [ -z "$reset" ]; then
    fail "no reset text beside the PC time: $(line reset)"
  else
    read -r rh rm ph pm <<< "$reset"
    behind=$(( ((10#$rh * 60 + 10#$rm) - (10#$ph * 60 + 10#$pm) - ahead + 2880) % 1440 ))
    [ "$behind" -le 1 ] || fail "reset $rh:$rm is not $ahead minutes ahead of the PC's $ph:$pm"
  fi
  hive_has "\"TX\"=dword:0000000$tx"
  ;;
dialogs)
  cat > script <<SCRIPT
wait 300
command 32813
dialog-dump offset-open
wait 300
shot $work/offset-dialog.png
dialog-set 1044 13.5
dialog-button 1
wait 400
dialog-dump offset-refused
shot $work/offset-refused.png
dialog-button 1
wait 300
dialog-dump offset-still-open
dialog-set 1044 13
dialog-button 1
wait 400
dump offset13
command 32813
dialog-dump offset-reopen
dialog-set 1044 -13
dialog-button 1
wait 400
dump offset-13
command 32813
dialog-set 1044 5
dialog-button 2
wait 400
dump offset-cancelled
command 32822
dialog-dump calibration-open
wait 300
shot $work/calibration-dialog.png
dialog-set 1049 3801
dialog-check 1051 1
dialog-button 1
wait 400
dialog-dump calibration-refused-3801
dialog-button 1
wait 300
dialog-set 1049 3699
dialog-button 1
wait 400
dialog-dump calibration-refused-3699
dialog-button 1
wait 300
dialog-button 1050
wait 300
dialog-dump calibration-default
dialog-set 1049 3700
dialog-button 1
wait 400
command 32822
dialog-dump calibration-reopen
dialog-button 1050
wait 200
dialog-button 2
wait 300
command 57664
dialog-dump about
wait 300
shot $work/about.png
dialog-button 1
wait 300
command 32815
dialog-dump mixer
dialog-button 1
wait 300
dump done
close
SCRIPT
  # No level control installed on this PATH.
  PATH=/usr/bin:/bin run script --simulate dcf77
  has offset-open "dialog=[PC clock offset]"
  has offset-open "edit1044=[0]"
  has offset-refused "Enter a number between -13 and 13."
  has offset-still-open "dialog=[PC clock offset]"
  has offset-still-open "edit1044=[13.5]"
  has offset13 "pane3=[Syn"
  has offset13 " [UT+13.0]  ]"
  has offset-reopen "edit1044=[13]"
  has offset-13 " [UT-13.0]  ] pane4=[PC"
  has offset-cancelled " [UT-13.0]  ] pane4=[PC"
  has calibration-open "dialog=[Calibrate soundcard]"
  has calibration-open "edit1049=[3756]"
  has calibration-open "check1051=0"
  has calibration-refused-3801 "Enter an integer between 3700 and 3800."
  has calibration-refused-3699 "Enter an integer between 3700 and 3800."
  # Default puts 3756 in the edit; the check box shows its state as of the last OK pressed.
  has calibration-default "edit1049=[3756]"
  has calibration-default "check1051=1"
  has calibration-reopen "edit1049=[3700]"
  has calibration-reopen "check1051=1"
  has about "Marvesta Version 1.6.02"
  # No level control to start: what was tried and how to set the level on Linux, not the
  # Windows control's instructions.
  has mixer "No recording-level control could be started (tried: pavucontrol, pavucontrol-qt,"
  has mixer "alsamixer -V capture"
  has mixer "pactl set-source-volume SOURCE 80%"
  lacks mixer "Recording Control"
  has done "pane2=[ready to start]"
  hive_has '"CO"=hex:00,00,00,00,00,00,2a,c0'
  hive_has '"MS"=dword:00000e74'
  for s in offset-dialog offset-refused calibration-dialog about; do keep_shot $s.png; done
  ;;
exit_capturing)
  # Closing the window while capturing stops the capture (writing the snapshot) and saves.
  cat > script <<SCRIPT
command 32816
command 32785
wait 2000
dump capturing
close
SCRIPT
  run script --simulate hbg
  has capturing "stopped=0"
  has capturing "tools=10"
  [ "$(stat -c %s recording.wav 2>/dev/null)" = 4142 ] || fail "exit while capturing wrote no recording.wav"
  hive_has '"TX"=dword:00000001'
  ;;
wave_error)
  cat > script <<SCRIPT
wait 300
command 32787
dialog-dump error
wait 500
shot $work/wave-error.png
dialog-button 1
wait 400
dump after
close
SCRIPT
  run script
  if grep -q "^error no-dialog" "$work/out"; then
    # This machine has a sound card: the capture started instead.
    has after "stopped=0"
  else
    # The specified two lines first, then which input was tried and what to check, under the
    # program's name.
    has error "dialog=[Marvesta] static1002=[On opening the wave device..] static1003=["
    has error "static1004=[Input tried: the default input"
    has error "arecord -l"
    has error "whole=1"
    has after "stopped=1"
    has after "pane2=[ready to start]"
    has after "tools=01"
    [ -e recording.wav ] && fail "a failed start wrote recording.wav"
  fi
  keep_shot wave-error.png
  ;;
recording_end)
  # A short recording: once it has played, the capture stops by itself rather than waiting for
  # buffers that will never come.
  "$(dirname "$varnol")/varnol-signal" --station dcf77 --start 2026-12-07T13:05:00Z --minutes 0.1 \
    --output "$work/short.wav" || fail "varnol-signal failed"
  cat > script <<SCRIPT
wait 300
command 32787
wait 1000
dump playing
wait-pane 2 ready to start 30
dump ended
close
SCRIPT
  run script --input "$work/short.wav"
  has playing "stopped=0"
  has ended "stopped=1"
  has ended "pane2=[ready to start]"
  [ "$(stat -c %s recording.wav 2>/dev/null)" = 4142 ] || fail "the stop at the end wrote no snapshot"
  grep -q "the recording has ended" "$work/log" || fail "no word that the recording ended"
  ;;
played_recording)
  # The user plays their own "recording.wav" from the working folder: the stop at its end keeps
  # it (the snapshot would have the same name) and says so on standard error.
  "$(dirname "$varnol")/varnol-signal" --station dcf77 --start 2026-12-07T13:05:00Z --minutes 0.1 \
    --output recording.wav || fail "varnol-signal failed"
  size=$(stat -c %s recording.wav)
  cat > script <<SCRIPT
wait 300
command 32787
wait 1000
dump playing
wait-pane 2 ready to start 30
dump ended
close
SCRIPT
  run script --input recording.wav
  has playing "stopped=0"
  has ended "stopped=1"
  [ "$(stat -c %s recording.wav)" = "$size" ] || fail "the played recording was replaced"
  grep -q "recording.wav is the recording being played" "$work/log" || fail "no word that the snapshot left it alone"
  ;;
input_settings)
  # The automatic level and the tone through the Setup menu into the hive and back at the next
  # start; the options override them for one run without changing them; the tuning aid opens
  # and closes with its menu item, leaving no window behind.
  "$(dirname "$varnol")/varnol-signal" --station dcf77 --start 2026-12-07T13:05:00Z --minutes 0.5 \
    --tone 747 --snr 20 --output "$work/dcf747.wav" || fail "varnol-signal failed"
  cat > script <<SCRIPT
wait 300
dump initial
command 32903
command 32906
dialog-set 1301 12
dialog-button 1
wait 400
dialog-dump tone-refused
dialog-button 1
wait 300
dialog-set 1301 747
dialog-button 1
wait 400
dump fixed
command 32907
wait 1000
dump aid-open
shot $work/tuning-aid-stopped.png
command 32907
wait 300
command 32907
wait 300
command 32907
wait 500
dump aid-closed
close
SCRIPT
  run script --input "$work/dcf747.wav"
  has initial "input_checked=32904, tone_fixed=[Tone: from a frequency...] toplevels=1"
  has tone-refused "Enter a frequency between 100 and 190000 Hz."
  has fixed "input_checked=32903,32906, tone_fixed=[Tone: from 747 Hz...]"
  grep -q "tone: 747 Hz as given, moved +253 Hz to 1000 Hz" "$work/log" || fail "the fixed tone was not put in force"
  has aid-open "input_checked=32903,32906,32907,"
  has aid-open "toplevels=2 aid_rows=0 aid=[Tone 747 Hz as given, moved +253 Hz"
  has aid-closed "input_checked=32903,32906, tone_fixed"
  has aid-closed "toplevels=1"
  hive_has '"AutoLevel"=dword:00000001'
  hive_has '"Tone"="747"'
  # The next start reads them back.
  cat > script <<SCRIPT
wait 300
dump again
close
SCRIPT
  run script --input "$work/dcf747.wav"
  has again "input_checked=32903,32906,"
  grep -q "tone: 747 Hz as given" "$work/log" || fail "the stored tone was not used: $(cat "$work/log")"
  # Options for one run: shown in the menu, the stored settings left as they were.
  sed -i 's/dump again/dump options/' script
  run script --input "$work/dcf747.wav" --tone off --gain off
  has options "input_checked=32905,"
  hive_has '"AutoLevel"=dword:00000001'
  hive_has '"Tone"="747"'
  keep_shot tuning-aid-stopped.png
  ;;
tone_station)
  # A recording's tone found at 747 Hz and moved at its own rate; the station changed from the
  # stored MSF to DCF77 while it plays: the tone is looked for again on the audio as it comes
  # and moved again; changed to WWV, whose AM audio stays where it is.
  "$(dirname "$varnol")/varnol-signal" --station dcf77 --start 2026-12-07T13:05:00Z --minutes 0.75 \
    --tone 747 --snr 20 --output "$work/dcf747.wav" || fail "varnol-signal failed"
  cat > script <<SCRIPT
wait 300
command 32787
wait 1000
command 32811
command 32907
wait 2000
dump searching
wait 10000
dump found
shot $work/tuning-aid.png
command 32821
wait 500
dump wwv
close
SCRIPT
  run script --input "$work/dcf747.wav"
  has searching "aid=[Looking for the station's tone:"
  has found "aid=[Tone 746.8 Hz, moved +253.2 Hz to where the clock measures]"
  lacks found "aid_rows=0 "
  has wwv "aid=[Tone: WWV/WWVH audio (AM)"
  expected="found at 746.8 Hz|looking again, for DCF77|found at 746.8 Hz|looking again, for WWV|WWV/WWVH audio"
  told=$(grep "varnol: tone:" "$work/log" | sed -E 's/.*(found at 746.8 Hz|looking again, for [A-Z0-9]+|WWV\/WWVH audio).*/\1/' | paste -sd'|')
  [ "$told" = "$expected" ] || fail "tone decisions on stderr: $told"
  keep_shot tuning-aid.png
  ;;
robust_lock)
  # The robust lock beside the window's loop, on the simulated station heard live: the status
  # bar's tool tip (the signal report) says when it holds the time of day, with its evidence,
  # while the panes keep their own texts. Locking takes four to six minutes of audio.
  cat > script <<SCRIPT
wait 300
command 32787
wait 3000
dump running
wait-tip Robust lock: locked 600
pointer pane-2
wait 2500
shot $work/robust-lock.png
dump locked
close
SCRIPT
  RUN_TIMEOUT=700 run script --simulate dcf77
  grep -q "^TIMEOUT" "$work/out" && fail "no lock within 600 s: $(grep -m1 '^TIMEOUT' "$work/out")"
  matches tip 'Robust lock: locked, last minute [0-2][0-9]:[0-5][0-9] UT, [0-9]+ minutes of evidence, margin [0-9]+ nats'
  lacks running "Robust"
  matches locked 'pane1=\[DCF77\] pane2=\[[^]]*\] pane3=\[Syn [0-2][0-9]:[0-5][0-9]:[0-5][0-9][-+][0-9.]+\] pane4=\[PC '
  lacks locked "Robust"
  grep -q "refused" "$work/log" && fail "a right write was refused: $(grep -m1 refused "$work/log")"
  keep_shot robust-lock.png
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
echo "gui $case_name: ok"
