#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The clock window as a person meets it, under Xvfb with a window manager (openbox), driven
# through its test build's script with real pointer and key events:
# bash varnol_window_gui.sh VARNOL-TEST CASE [openbox|none], where CASE is strip, menubar,
# context_help, signals or display_lost, and "none" leaves the window manager out. Runs in a
# temporary working folder with a temporary QOVEN_ROOT. Set VARNOL_SHOT_DIR to keep the
# screenshots.
set -uo pipefail
varnol=$(readlink -f "$1")
case_name=$2
wm_name=${3:-openbox}  # or "none": the bare X server
work=$(mktemp -d)
xvfb_pid=""
wm_pid=""
varnol_pid=""
cleanup() {
  [ -n "$varnol_pid" ] && kill "$varnol_pid" 2>/dev/null
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
export QOVEN_ROOT="$work/qoven"
export TZ=UTC
. "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/window_record.sh"

# A display of our own, with a window manager on it unless told otherwise.
exec 3<> "$work/displayfd"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp > "$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do
  display=$(head -n1 "$work/displayfd" 2>/dev/null || true)
  [ -n "$display" ] && break
  sleep 0.1
done
[ -n "${display:-}" ] || { echo "Xvfb did not start"; exit 1; }
export DISPLAY=":$display"
if [ "$wm_name" = openbox ]; then
  openbox --sm-disable > "$work/wm.log" 2>&1 &
  wm_pid=$!
  sleep 1
fi

# start SCRIPT ARGS...: starts the window on the script in the background (record in $work/out).
start() {
  local script=$1
  shift
  VARNOL_TEST_SCRIPT="$script" VARNOL_TEST_OUTPUT="$work/out" "$varnol" "$@" > "$work/log" 2>&1 &
  varnol_pid=$!
}
# finish SECONDS: waits for the window to end by itself; its exit code in $rc.
finish() {
  local waited=0
  while kill -0 "$varnol_pid" 2>/dev/null && [ "$waited" -lt $(($1 * 10)) ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  if kill -0 "$varnol_pid" 2>/dev/null; then
    fail "varnol still runs after $1 s"
    kill -9 "$varnol_pid"
  fi
  wait "$varnol_pid"
  rc=$?
  varnol_pid=""
}
# wait_record LABEL SECONDS: waits until the record has a line LABEL.
wait_record() {
  for _ in $(seq $(($2 * 10))); do
    grep -q "^$1 " "$work/out" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "no record '$1' within $2 s"
}
no_gtk_complaints() {
  if grep -E "Gtk-CRITICAL|Gtk-WARNING|\*\*\* BUG \*\*\*" "$work/log"; then fail "GTK or pixman complained (above)"; fi
}
mixer_text="Select the audio source, adjust the volume, make sure it is not muted.  Ensure that the overall record level slider (leftmost) is at a suitable level and that Mute-all is not checked. If the source you require does not appear, in the Recording Control window, click on Options...Properties..Recording and check the input source that you require; then click on OK."

case "$case_name" in
strip)
  # The default window shows all 82 rows of the strip, its panes whole, its dialogs without
  # complaints from GTK; then it captures, and exits without pixman's complaints.
  cat > script <<SCRIPT
wait 1500
dump default
shot $work/window-default.png
command 32813
dialog-dump offset
dialog-set 1044 -5.5
dialog-button 1
wait 400
dump offset-set
command 32822
wait 300
dialog-dump calibration
dialog-button 2
wait 300
prompt 57664
dump about-prompt
prompt 57669
dump help-prompt
prompt-end
command 32811
command 32787
wait 4000
dump capturing
shot $work/window-capturing.png
close
SCRIPT
  start script --simulate dcf77
  finish 60
  [ "$rc" -eq 0 ] || fail "varnol exited with $rc"
  has default "title=Marvesta rect=0,0,"
  has default "view=600x82 strip_rows=82"
  has default "canvas=600x82"
  has default "cut=[]"
  # Both dialogs open with their value selected.
  has offset "edit1044=[0] selected=0-1"
  has calibration "edit1049=[3756] selected=0-4"
  # The time panes with the dialog's form of the label, and prompts across the whole bar.
  has offset-set " [UT-05.5]  ] pane4=[PC "
  has offset-set "cut=[]"
  has about-prompt "pane0=[Display program information, version number and copyright] checked"
  has about-prompt "cut=[]"
  has help-prompt "pane0=[Display help for clicked on buttons, menus and windows] checked"
  has help-prompt "cut=[]"
  has capturing "stopped=0"
  has capturing "view=600x82"
  no_gtk_complaints
  keep_shot window-default.png
  keep_shot window-capturing.png
  ;;
menubar)
  # Start, Stop and Mixer are one click on the menu bar (real pointer events), and Alt+S,
  # Alt+P, Alt+M; the message box shows the whole mixer advice.
  cat > script <<SCRIPT
wait 1500
pointer bar-Start
click
wait 1500
dump clicked-start
pointer bar-Stop
click
wait 800
dump clicked-stop
key alt-s
wait 1000
dump alt-s
key alt-p
wait 800
dump alt-p
pointer bar-Mixer
click
dialog-dump mixer
shot $work/mixer.png
dialog-button 1
wait 500
key alt-m
dialog-dump alt-m
dialog-button 1
wait 300
close
SCRIPT
  # A stand-in recording-level control: the advice is the one given beside a mixer that started.
  mkdir -p "$work/bin"
  printf '#!/bin/sh\necho "$@" >> "%s/mixer-args"\n' "$work" > "$work/bin/pavucontrol"
  chmod +x "$work/bin/pavucontrol"
  PATH="$work/bin:/usr/bin:/bin" start script --simulate dcf77
  # --simulate dcf77 selects DCF77 (32811) as the Transmitter menu would
  finish 60
  [ "$rc" -eq 0 ] || fail "varnol exited with $rc"
  has clicked-start "checked=32787,32811, autoset=[Enable] tools=10"
  has clicked-start "stopped=0"
  has clicked-stop "checked=32779,32811, autoset=[Enable] tools=01"
  has clicked-stop "stopped=1"
  has alt-s "stopped=0"
  has alt-p "stopped=1"
  has mixer "whole=1"
  has mixer "[$mixer_text]"
  has alt-m "[$mixer_text]"
  [ "$(grep -c -- '--tab=4' "$work/mixer-args" 2>/dev/null)" = 2 ] || fail "the mixer was not started on its input tab twice"
  [ "$(stat -c %s recording.wav 2>/dev/null)" = 4142 ] || fail "Stop wrote no snapshot"
  no_gtk_complaints
  keep_shot mixer.png
  ;;
context_help)
  # Context help waits without using the processor, leaves on Escape and on a click, and a
  # click opens the page of what it was on; F1 opens the page under the pointer.
  cat > script <<SCRIPT
wait 1500
pointer pane-3
key f1
wait 1500
help-dump f1-time-panes
pointer view
click
command 57669
wait 300
dump waiting
cpu-begin
wiggle 10000
cpu-end context-help-cpu
key escape
wait 300
dump escaped
command 57669
wait 300
pointer view
click
wait 1000
help-dump clicked-view
command 57669
wait 300
pointer tool-0
click
wait 800
help-dump clicked-tool
command 57667
wait 800
help-dump topics
shot $work/help.png
close
SCRIPT
  start script --simulate dcf77
  finish 60
  [ "$rc" -eq 0 ] || fail "varnol exited with $rc"
  has f1-time-panes "help=[window.html#time-panes] help_shown=1"
  has waiting "context_help=1"
  # A busy wait would use most of a core; waiting for the next event uses next to nothing.
  cpu=$(line context-help-cpu | sed -n 's/.*cpu_percent=\([0-9.]*\).*/\1/p')
  echo "CPU in context-help mode while the pointer moves: ${cpu:-?} % of one core"
  awk -v c="${cpu:-999}" 'BEGIN { exit !(c < 10) }' || fail "context help used ${cpu:-?} % of a core"
  has escaped "context_help=0"
  has clicked-view "help=[window.html#strip] help_shown=1 context_help=0"
  has clicked-tool "help=[window.html#toolbar]"
  has topics "help=[index.html]"
  keep_shot help.png
  ;;
signals)
  # A termination signal closes the window within a second, whatever it is doing, as File > Exit
  # does: the settings saved (each state chooses its own station first, so the hive shows that
  # this close saved them) and the snapshot written when a capture ran. One line a state:
  # STATE SIGNAL TX SCRIPT (\n between lines) CHECK (what the script's record shows in that state).
  states=(
    "capturing|TERM|1|command 32816\ncommand 32787\nwait 1500\ndump ready|stopped=0"
    "stopped|HUP|1|command 32816\ncommand 32787\nwait 1500\ncommand 32779\nwait 500\ndump ready|stopped=1"
    "dialog|INT|3|command 32819\ncommand 32787\nwait 1500\ncommand 32813\ndialog-dump ready|dialog=[PC clock offset]"
    "message-over-dialog|TERM|6|command 32821\ncommand 32813\ndialog-set 1044 99\ndialog-button 1\nwait 500\ndialog-dump ready|Enter a number between -13 and 13."
    "help|TERM|4|command 32817\ncommand 57667\nwait 1500\nhelp-dump ready|help_shown=1"
    "context-help|INT|0|command 32810\ncommand 57669\nwait 300\ndump ready|context_help=1"
    "menu|TERM|5|command 32818\nwait 500\npointer view\nkey alt-f\nwait 800\ndump ready|grab=GtkMenu"
  )
  # end_by_signal STATE SIGNAL: sends the signal to the running window and checks that it ended
  # at once with exit code 0.
  end_by_signal() {
    sleep 0.5
    local t0 ms
    t0=$(date +%s%N)
    kill -"$2" "$varnol_pid"
    finish 5
    ms=$((($(date +%s%N) - t0) / 1000000))
    echo "$1, SIG$2 ($wm_name): the window ended $ms ms after the signal"
    [ "$ms" -lt 1000 ] || fail "$1: SIG$2 took $ms ms"
    [ "$rc" -eq 0 ] || fail "$1: SIG$2: exit code $rc"
  }
  # Idle right after start, as shipped (the program without the tests' driver): waits until
  # the window is on the screen.
  rm -rf "$QOVEN_ROOT" recording.wav
  "$(dirname "$varnol")/varnol" --simulate rwm > "$work/log" 2>&1 &
  varnol_pid=$!
  shown() { [[ "$(xwininfo -root -tree 2>/dev/null)" == *'"Marvesta"'* ]]; }
  for _ in $(seq 100); do
    shown && break
    sleep 0.1
  done
  shown || fail "start: no window within 10 s"
  # The user signals are ignored: the window goes on (and still ends properly below).
  kill -USR1 "$varnol_pid"
  kill -USR2 "$varnol_pid"
  sleep 0.5
  kill -0 "$varnol_pid" 2>/dev/null || fail "start: SIGUSR1/SIGUSR2 ended the window"
  end_by_signal start TERM
  hive_has '"TX"=dword:00000005'
  for state in "${states[@]}"; do
    IFS='|' read -r name sig tx script check <<< "$state"
    rm -rf "$QOVEN_ROOT" recording.wav out
    # The state's record is labelled with its name.
    printf '%b\nwait 600000\n' "${script/ ready/ $name}" > script
    start script --simulate dcf77
    wait_record "$name" 20
    has "$name" "$check"
    end_by_signal "$name" "$sig"
    hive_has "\"TX\"=dword:0000000$tx"
    case "$name" in
    capturing | dialog)
      [ "$(stat -c %s recording.wav 2>/dev/null)" = 4142 ] || fail "$name: SIG$sig wrote no snapshot"
      ;;
    esac
  done
  ;;
display_lost)
  # The X server goes away while capturing: the program saves as at exit and says so in one line.
  printf 'command 32818\ncommand 32787\nwait 1500\ndump ready\nwait 600000\n' > script
  start script --simulate rwm
  wait_record ready 20
  kill "$wm_pid" "$xvfb_pid"
  wm_pid=""
  xvfb_pid=""
  finish 5
  [ "$rc" -ne 0 ] || fail "a lost display ended the program with exit code 0"
  grep -c . "$work/log" | grep -qx 1 || fail "more than one line on stderr: $(cat "$work/log")"
  grep -q "lost the connection to the display" "$work/log" || fail "no word of the lost display: $(cat "$work/log")"
  [ "$(stat -c %s recording.wav 2>/dev/null)" = 4142 ] || fail "no snapshot after the display was lost"
  hive_has '"TX"=dword:00000005'
  ;;
*)
  echo "unknown case $case_name"
  exit 2
  ;;
esac

if [ "$failures" -ne 0 ]; then
  echo "--- record"
  cat "$work/out" 2>/dev/null
  echo "--- log"
  tail -20 "$work/log"
  exit 1
fi
echo "gui window $case_name: ok"
