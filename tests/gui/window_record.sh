# SPDX-License-Identifier: GPL-3.0-or-later
# What the window tests share: the record the test hook writes ($work/out, one line per label,
# "LABEL text...") and the checks made on it. Sourced by a test once $work is set; `fail` counts
# the failures in $failures and the test goes on.
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

line() { grep -m1 "^$1 " "$work/out" 2>/dev/null || true; }

# has LABEL TEXT: the recorded line LABEL contains TEXT.
has() {
  local l
  l=$(line "$1")
  [ -n "$l" ] || { fail "no record '$1'"; return; }
  grep -qF -- "$2" <<< "$l" || fail "'$1' lacks '$2': $l"
}
lacks() {
  local l
  l=$(line "$1")
  grep -qF -- "$2" <<< "$l" && fail "'$1' shows '$2': $l"
}
matches() {
  local l
  l=$(line "$1")
  grep -qE -- "$2" <<< "$l" || fail "'$1' does not match /$2/: $l"
}
hive_has() {
  grep -qF -- "$1" "$QOVEN_ROOT/registry/HKEY_LOCAL_MACHINE.reg" 2>/dev/null ||
    fail "hive lacks $1: $(cat "$QOVEN_ROOT/registry/HKEY_LOCAL_MACHINE.reg" 2>/dev/null)"
}
# keep_shot FILE: keeps a screenshot in $VARNOL_SHOT_DIR when that is set.
keep_shot() {
  if [ -n "${VARNOL_SHOT_DIR:-}" ] && [ -f "$work/$1" ]; then cp "$work/$1" "$VARNOL_SHOT_DIR/"; fi
}
