#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The reference clock against a real chronyd: a private chronyd in a temporary folder (-x: it
# never touches the machine's clock; its command socket, pid file and drift file in that folder)
# with a SOCK and an SHM refclock, fed by varnol-decode on the simulated DCF77 receiver paced in
# real time, whose broadcast runs 250 ms ahead of the system clock. chronyc must then show both
# refclocks reachable, each with an offset within a few milliseconds of those 250 ms.
# Takes about six minutes (the first samples follow three agreeing decoded minutes). Also: the
# decoder runs until stopped, says once on stderr that it locked, and ends with a summary.
# Skips (exit 77) only when chronyd cannot run here, saying why.
set -u
BUILD=$(cd "$1" && pwd)
DECODE=$BUILD/varnol-decode
AHEAD_MS=250
TOLERANCE_MS=5

# The NTP shared-memory segments are machine-wide: run in a private IPC namespace when we may,
# so that no segment of a real ntpd or chronyd is ever written.
if [ -z "${VARNOL_PRIVATE_IPC:-}" ] && unshare --ipc true 2>/dev/null; then
  VARNOL_PRIVATE_IPC=1 exec unshare --ipc bash "$0" "$@"
fi
if [ -n "${VARNOL_PRIVATE_IPC:-}" ]; then unit=2; else unit=$((100 + RANDOM % 150)); fi
shm_key=$(printf '0x%x' $((0x4e545030 + unit)))
if [ -z "${VARNOL_PRIVATE_IPC:-}" ] && ipcs -m | grep -qi "^$shm_key "; then
  echo "SKIP: NTP shared-memory unit $unit is already in use on this machine"; exit 77
fi

command -v chronyd >/dev/null || { echo "SKIP: chronyd is not installed (Debian package chrony)"; exit 77; }
work=$(mktemp -d)  # 0700: chronyd refuses a command socket in a folder others can enter
cd "$work"
passed=0
failed=0
check() {  # name, condition result (0 = true)
  if [ "$2" -eq 0 ]; then passed=$((passed + 1)); echo "ok    $1"; else failed=$((failed + 1)); echo "FAIL  $1"; fi
}
cleanup() {
  [ -n "${decoder:-}" ] && kill "$decoder" 2>/dev/null
  [ -n "${chronyd_pid:-}" ] && kill "$chronyd_pid" 2>/dev/null && wait "$chronyd_pid" 2>/dev/null
  [ -z "${VARNOL_PRIVATE_IPC:-}" ] && ipcrm -M "$shm_key" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# noselect: chronyd measures the refclocks but never steers its (with -x, virtual) clock to
# them, so sources and sourcestats keep showing the broadcast's lead.
cat >"$work/chrony.conf" <<CONF
refclock SOCK $work/varnol.sock refid VSOK poll 2 precision 1e-3 noselect
refclock SHM $unit refid VSHM poll 2 precision 1e-3 noselect
bindcmdaddress $work/chronyd.sock
cmdport 0
port 0
pidfile $work/chronyd.pid
driftfile $work/chrony.drift
CONF
user_opt=()
[ "$(id -u)" -eq 0 ] && user_opt=(-u root)
chronyd -x -d "${user_opt[@]}" -f "$work/chrony.conf" >"$work/chronyd.log" 2>&1 &
chronyd_pid=$!
for _ in $(seq 50); do [ -S "$work/varnol.sock" ] && [ -S "$work/chronyd.sock" ] && break; sleep 0.1; done
if ! kill -0 "$chronyd_pid" 2>/dev/null || [ ! -S "$work/varnol.sock" ]; then
  echo "SKIP: chronyd cannot start here: $(tail -n 3 "$work/chronyd.log" | tr '\n' ' ')"
  chronyd_pid=
  exit 77
fi
chronyc_() { chronyc -h "$work/chronyd.sock" -n -c "$@"; }

# No --minutes: with --refclock the program runs until it is stopped, as the README's trial of
# the chain runs it (locking alone takes longer than the simulated receiver's default 3 minutes).
"$DECODE" --simulate --realtime --station=dcf77 --snr 10 --broadcast-ahead=$AHEAD_MS \
  --refclock=sock:"$work/varnol.sock" --refclock shm:$unit --json >"$work/out.json" 2>"$work/err.txt" &
decoder=$!

# Wait for the first served second, then give chronyd a minute of samples (15 polls of 4 s).
first=
for _ in $(seq 480); do
  grep -q '"event": "epoch"' "$work/out.json" && { first=1; break; }
  kill -0 "$decoder" 2>/dev/null || break
  sleep 1
done
check "varnol-decode locked and served seconds" $([ -n "$first" ]; echo $?)
[ -n "$first" ] && sleep 60

sources=$(chronyc_ sources)
stats=$(chronyc_ sourcestats)
echo "$sources"
echo "$stats"

# Stopping the daemon: SIGTERM ends it cleanly and at once.
kill -TERM "$decoder"
for _ in $(seq 50); do kill -0 "$decoder" 2>/dev/null || break; sleep 0.1; done
wait "$decoder"
code=$?
decoder=
check "SIGTERM ends varnol-decode with exit 0" $([ "$code" -eq 0 ]; echo $?)
check "no complaint about the socket while chronyd listened" $(! grep -q 'is not there' "$work/err.txt"; echo $?)
# The lock, for the journal: one line when it came, none for a lock that held.
check "stderr: one line 'locked: 3 minutes agree'" \
  $([ "$(grep -c '^varnol-decode: locked: [0-9]* minutes agree$' "$work/err.txt")" = 1 ]; echo $?)
check "stderr: no loss of the lock" $(! grep -q 'unlocked' "$work/err.txt"; echo $?)
# The run's last line: locked, the seconds sent and their offsets (the broadcast's lead).
last=$(tail -n 1 "$work/out.json")
echo "$last"
check "the last line sums up the reference clock" \
  $(python3 -c 'import json, sys
e = json.loads(sys.argv[1]); a = float(sys.argv[2]) / 1000
sys.exit(not (e["event"] == "refclock" and e["locked"] and e["served"] and e["seconds"] > 30
              and abs(e["offset_mean"] - a) < 0.005 and 0 < e["offset_spread"] < 0.005))' "$last" $AHEAD_MS; echo $?)

for refid in VSOK VSHM; do
  # sources -c: mode,state,name,stratum,poll,reach,lastrx,offset,measured offset,error
  line=$(echo "$sources" | awk -F, -v r=$refid '$3 == r')
  reach=$(echo "$line" | cut -d, -f6)
  check "$refid reachable (reach $reach)" $([ -n "$reach" ] && [ "$reach" != 0 ]; echo $?)
  off=$(echo "$line" | cut -d, -f9)
  # chronyc reports the system clock against the source: with the broadcast ahead, the system
  # clock is behind, -250 ms.
  check "$refid last sample $off s, -$AHEAD_MS ms within $TOLERANCE_MS ms" \
    $(awk -v o="${off:-nan}" -v a=$AHEAD_MS -v t=$TOLERANCE_MS 'BEGIN { d = -o * 1000 - a; exit !(o == o + 0 && d < t && d > -t) }'; echo $?)
  # sourcestats -c: name,np,nr,span,frequency,freq skew,offset,std dev
  st=$(echo "$stats" | awk -F, -v r=$refid '$1 == r')
  soff=$(echo "$st" | cut -d, -f7)
  check "$refid sourcestats offset $soff s, -$AHEAD_MS ms within $TOLERANCE_MS ms" \
    $(awk -v o="${soff:-nan}" -v a=$AHEAD_MS -v t=$TOLERANCE_MS 'BEGIN { d = -o * 1000 - a; exit !(o == o + 0 && d < t && d > -t) }'; echo $?)
done

if [ "$failed" -ne 0 ]; then
  echo "--- varnol-decode stderr"; cat "$work/err.txt"
  echo "--- chronyd log"; tail -n 20 "$work/chronyd.log"
  echo "--- last lines"; tail -n 5 "$work/out.json"
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
