#!/usr/bin/env bash
# "make install PREFIX=..." and "make uninstall" (scripts/install-tree.sh, which the Makefile
# runs) into a temporary prefix that already holds a folder of its own: the service unit must
# name the program and the settings file where they were installed, and uninstall must leave
# the prefix as it found it (the files gone, the folders it made gone, the folder that was
# there kept). The build folder's own install record is put back afterwards.
#
#   install_tree_test.sh SOURCE_DIR BUILD_DIR
set -u
SRC=$(cd "$1" && pwd)
BUILD=$(cd "$2" && pwd)
work=$(mktemp -d)
saved="$work/saved"
mkdir -p "$saved"
for f in install_manifest.txt install_folders.txt; do [ -f "$BUILD/$f" ] && cp -p "$BUILD/$f" "$saved/"; done
restore() {
  for f in install_manifest.txt install_folders.txt; do
    if [ -f "$saved/$f" ]; then cp -p "$saved/$f" "$BUILD/$f"; else rm -f "$BUILD/$f"; fi
  done
  rm -rf "$work"
}
trap restore EXIT
passed=0
failed=0
check() {  # name, condition result (0 = true)
  if [ "$2" -eq 0 ]; then passed=$((passed + 1)); echo "ok    $1"; else failed=$((failed + 1)); echo "FAIL  $1"; fi
}

prefix="$work/prefix"
mkdir -p "$prefix/share/mine"
echo keep >"$prefix/share/mine/file"
before=$(cd "$prefix" && find . | sort)

bash "$SRC/scripts/install-tree.sh" install "$BUILD" "$prefix" >"$work/install.log" 2>&1
check "install into $prefix" $?
unit="$prefix/lib/systemd/system/varnol-refclock.service"
defaults="$prefix/etc/default/varnol-refclock"
check "the settings file is installed under the prefix" $([ -f "$defaults" ]; echo $?)
check "the unit reads the settings file under the prefix" \
  $(grep -qx "EnvironmentFile=-$defaults" "$unit"; echo $?)
check "the unit runs the program under the prefix" \
  $(grep -q "^ExecStart=$prefix/bin/varnol-decode " "$unit" && [ -x "$prefix/bin/varnol-decode" ]; echo $?)
check "the unit passes the sound card from VARNOL_DEVICE as one word" \
  $(grep -q '^ExecStart=.* --device=${VARNOL_DEVICE} ' "$unit"; echo $?)
check "the settings file has VARNOL_DEVICE" $(grep -q '^VARNOL_DEVICE=' "$defaults"; echo $?)
check "no path of /usr or /etc left in the unit" $(! grep -E '=-?(/usr/bin|/etc/default)/' "$unit"; echo $?)

# A second installation over the first: the folders the first made still count as made.
bash "$SRC/scripts/install-tree.sh" install "$BUILD" "$prefix" >>"$work/install.log" 2>&1
check "a second install over the first" $?

bash "$SRC/scripts/install-tree.sh" uninstall "$BUILD" >"$work/uninstall.log" 2>&1
check "uninstall" $?
after=$(cd "$prefix" && find . | sort)
check "uninstall leaves the prefix as it was" $([ "$before" = "$after" ]; echo $?)
[ "$before" = "$after" ] || diff <(echo "$before") <(echo "$after")

if [ "$failed" -ne 0 ]; then tail -n 20 "$work/install.log" "$work/uninstall.log"; fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
