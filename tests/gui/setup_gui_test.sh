#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The installer as a user meets it, under Xvfb: the dialog opens, the destination is edited,
# "Install Now" runs the installation, the final message is answered, and the program ends;
# a second run is left with "Exit". Screenshots are kept in OUT for people to look at.
#
#   setup_gui_test.sh SETUP_PROGRAM DRIVER_PROGRAM OUT_DIR
set -euo pipefail
SETUP=$1
DRIVER=$2
OUT=$3
rm -rf "$OUT"
mkdir -p "$OUT/src" "$OUT/root"
export QOVEN_ROOT="$OUT/root"
TITLE="Setup installation program"

fail() { echo "FAIL: $*" >&2; exit 1; }

# Geometry of the shown top-level window called $1 (the program's hidden helper windows,
# which may share the name, are a few pixels small): prints "X Y WIDTH HEIGHT".
geometry() {
  xwininfo -root -children 2>/dev/null | awk -v name="\"$1\":" '
    index($0, " " name " ") > 0 {
      for (i = 3; i <= NF; i++) if ($i ~ /^[0-9]+x[0-9]+[+-][0-9-]+[+-][0-9-]+$/) g = $i
      split(g, a, /[x+]/); if (a[1] > 50 && a[2] > 50) { print a[3], a[4], a[1], a[2]; found = 1; exit }
    }
    END { if (!found) exit 1 }'
}

wait_window() {  # name, seconds
  for _ in $(seq 1 $(( $2 * 10 ))); do
    if geometry "$1" >/dev/null; then sleep 0.5; return 0; fi
    sleep 0.1
  done
  fail "no window \"$1\""
}

# Waits for the program to end and sets CODE to its exit code. It runs in this shell, never in
# a $(...) subshell: only the shell that started the program can collect its exit code, and a
# subshell that finds it gone reports -1 instead.
wait_exit() {  # pid, seconds
  for _ in $(seq 1 $(( $2 * 10 ))); do
    if ! kill -0 "$1" 2>/dev/null; then CODE=0; wait "$1" || CODE=$?; return 0; fi
    sleep 0.1
  done
  kill "$1"; fail "the program did not end"
}

# Share of the columns of a box in a screenshot that hold a pixel where blue clearly
# dominates: how far the progress bar is filled. Prints a percentage.
blue_share() {  # file x y w h
  convert "$1" -crop "$4x$5+$2+$3" +repage -fx 'b > r + 0.15 && b > g + 0.05 ? 1 : 0' \
    -scale "$4x1!" -fx 'u > 0 ? 1 : 0' -format '%[fx:round(100*mean)]' info:
}

cd "$OUT/src"
printf 'Marvesta\r\n1.6\r\nQOVEN Marvesta\r\n; the clock and its uninstaller\r\n+Marvesta.exe\r\n+Uninstal.exe\r\n*QVNCTL.DLL\r\n' > setup.dat
echo "clock program" > Marvesta.exe
echo "uninstaller" > Uninstal.exe
echo "control library" > QVNCTL.DLL

# --- First run: install -----------------------------------------------------------------------
"$SETUP" & PID=$!
wait_window "$TITLE" 20
read -r X Y W H < <(geometry "$TITLE")
echo "dialog at $X,$Y size ${W}x$H"
# Dialog units to screen pixels (the dialog's client area is 320 x 200 units).
du() { echo $(( X + $1 * W / 320 )) $(( Y + $2 * H / 200 )); }
import -window root "$OUT/1-opened.png"
read -r BX BY < <(du 25 153); BW=$(( 270 * W / 320 )); BH=$(( 14 * H / 200 ))
[ "$(blue_share "$OUT/1-opened.png" "$BX" "$BY" "$BW" "$BH")" -lt 5 ] || fail "progress bar not empty at start"

# The pointer rests on the picture; the destination field has the keyboard focus.
read -r PX PY < <(du 50 50)
"$DRIVER" "move:$PX,$PY" key:END "text: GUI" key:TAB key:SPACE
sleep 2.5
import -window root "$OUT/2-installing.png"
wait_window setup 30
import -window root "$OUT/3-finished.png"
[ "$(blue_share "$OUT/3-finished.png" "$BX" "$BY" "$BW" "$BH")" -ge 80 ] || fail "progress bar not at 100"
read -r MX MY MW MH < <(geometry setup)
"$DRIVER" "move:$(( MX + MW / 2 )),$(( MY + MH / 2 ))" key:RETURN
wait_exit "$PID" 20
[ "$CODE" = 0 ] || fail "setup ended with $CODE"

DEST="$QOVEN_ROOT/drive_c/Program Files/QOVEN Marvesta GUI"
[ -f "$DEST/Marvesta.exe" ] || { ls -R "$QOVEN_ROOT/drive_c/Program Files"; fail "program file not installed"; }
[ -f "$QOVEN_ROOT/drive_c/WINDOWS/SYSTEM/QVNCTL.DLL" ] || fail "system file not installed"
EXPECTED_LOG=$(printf '%s\r\n' \
  "Setup log for: Marvesta" \
  "Copied Marvesta.exe to C:\\Program Files\\QOVEN Marvesta GUI\\Marvesta.exe" \
  "Copied Uninstal.exe to C:\\Program Files\\QOVEN Marvesta GUI\\Uninstal.exe" \
  "System file QVNCTL.DLL copied straight to C:\\WINDOWS\\SYSTEM\\QVNCTL.DLL" \
  "New QOVEN program files directory created" \
  "Shortcut C:\\WINDOWS\\Start Menu\\Programs\\QOVEN\\Marvesta.LNK to C:\\Program Files\\QOVEN Marvesta GUI\\Marvesta.exe called Marvesta with directory C:\\Program Files\\QOVEN Marvesta GUI" \
  "Shortcut C:\\WINDOWS\\Desktop\\Marvesta.LNK to C:\\Program Files\\QOVEN Marvesta GUI\\Marvesta.exe called Marvesta with directory C:\\Program Files\\QOVEN Marvesta GUI" \
  "Installation completed OK")
[ "$(cat "$DEST/setuplog.txt")" = "$EXPECTED_LOG" ] || { cat -A "$DEST/setuplog.txt"; fail "log differs"; }
HIVE=$(cat "$QOVEN_ROOT/registry/HKEY_LOCAL_MACHINE.reg")
[[ "$HIVE" == *'"UninstallString"="C:\\Program Files\\QOVEN Marvesta GUI\\Uninstal.exe"'* ]] \
  || fail "uninstall entry missing"
LINK_INFO=$(lnkinfo "$QOVEN_ROOT/drive_c/WINDOWS/Desktop/Marvesta.LNK")
[[ "$LINK_INFO" == *'Local path			: C:\Program Files\QOVEN Marvesta GUI\Marvesta.exe'* ]] \
  || fail "desktop shortcut does not point at the program"

# --- Second run: Exit ---------------------------------------------------------------------------
"$SETUP" & PID=$!
wait_window "$TITLE" 20
read -r X Y W H < <(geometry "$TITLE")
import -window root "$OUT/4-second-run.png"
# The About entry of the dialog's menu (right mouse button).
read -r PX PY < <(du 160 185)
"$DRIVER" "move:$PX,$PY" rclick sleep:300 key:DOWN key:RETURN
wait_window "About setup" 10
import -window root "$OUT/5-about.png"
read -r AX AY AW AH < <(geometry "About setup")
"$DRIVER" "move:$(( AX + AW / 2 )),$(( AY + AH / 2 ))" key:RETURN
for _ in $(seq 1 50); do geometry "About setup" >/dev/null || break; sleep 0.1; done
geometry "About setup" >/dev/null && fail "the About box did not close"
# The same entry from the keyboard: Shift+F10 opens the menu.
"$DRIVER" "move:$(( X + W / 2 )),$(( Y + H / 2 ))" click key:shift+F10 sleep:300 key:DOWN key:RETURN
wait_window "About setup" 10
read -r AX AY AW AH < <(geometry "About setup")
"$DRIVER" "move:$(( AX + AW / 2 )),$(( AY + AH / 2 ))" key:RETURN
for _ in $(seq 1 50); do geometry "About setup" >/dev/null || break; sleep 0.1; done
geometry "About setup" >/dev/null && fail "the About box did not close after Shift+F10"
read -r EX EY < <(du 242 184)
"$DRIVER" "move:$EX,$EY" click
wait_exit "$PID" 10
[ "$CODE" = 0 ] || fail "Exit ended setup with $CODE"
[ "$(ls "$QOVEN_ROOT/drive_c/Program Files")" = "QOVEN Marvesta GUI" ] || fail "Exit installed something"

# --- Third run: no script, on a machine never used: the message, and nothing created -----------
mkdir -p "$OUT/empty"
cd "$OUT/empty"
QOVEN_ROOT="$OUT/unused-root" "$SETUP" & PID=$!
wait_window setup 20
import -window root "$OUT/6-no-script.png"
read -r MX MY MW MH < <(geometry setup)
"$DRIVER" "move:$(( MX + MW / 2 )),$(( MY + MH / 2 ))" key:RETURN
wait_exit "$PID" 10
[ "$CODE" = 1 ] || fail "setup without a script ended with $CODE"
geometry "$TITLE" >/dev/null && fail "the dialog opened without a script"
[ ! -e "$OUT/unused-root" ] || fail "a run without a script created $(ls -A "$OUT/unused-root")"
echo "PASS (screenshots in $OUT)"
