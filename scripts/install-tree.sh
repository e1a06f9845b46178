#!/usr/bin/env bash
# "make install" and "make uninstall": cmake --install into PREFIX (DESTDIR honoured), noting
# the folders the installation made, so that uninstall removes them again once they are empty
# (and leaves alone every folder that was there before).
#
#   install-tree.sh install BUILD PREFIX
#   install-tree.sh uninstall BUILD
set -euo pipefail
export LC_ALL=C
action=${1:?install or uninstall} build=${2:?build folder}
manifest="$build/install_manifest.txt"
folders="$build/install_folders.txt"
case "$action" in
  install)
    prefix=$(realpath -m -- "${3:?prefix}")
    # Which folders the installation will make: install into an empty staging folder first and
    # look for each of its folders in the real destination.
    stage=$(mktemp -d)
    trap 'rm -rf "$stage"' EXIT
    DESTDIR="$stage" cmake --install "$build" --prefix "$prefix" >/dev/null
    made=$(cd "$stage" && find . -mindepth 1 -type d | sed 's|^\.||' | while IFS= read -r d; do
      [ -d "${DESTDIR:-}$d" ] || printf '%s\n' "${DESTDIR:-}$d"
    done)
    cmake --install "$build" --prefix "$prefix"
    # Kept across installations over one another: a folder the first one made stays ours.
    { [ ! -f "$folders" ] || cat "$folders"; [ -z "$made" ] || printf '%s\n' "$made"; } | sort -u >"$folders.tmp"
    mv -f "$folders.tmp" "$folders"
    ;;
  uninstall)
    [ -f "$manifest" ] || { echo "nothing installed from $build"; exit 1; }
    xargs -d '\n' rm -fv -- <"$manifest"
    if [ -f "$folders" ]; then
      # The deepest first: a folder's own folders sort after it.
      sort -r "$folders" | while IFS= read -r d; do
        [ -d "$d" ] && rmdir -- "$d" 2>/dev/null && echo "removed folder '$d'"
      done
      rm -f "$folders"
    fi
    ;;
  *) echo "install-tree.sh: install or uninstall, not '$action'" >&2; exit 2 ;;
esac
