#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package from a clean copy of the checkout (the files git knows, as they are
# in the working tree now), so that no build folder or stray file of the checkout gets in.
# Leaves varnol_<version>_<arch>.deb in the checkout's top folder and prints its name.
#   DEB_BUILD_OPTIONS  default "nocheck parallel=<cores>": one Release build without the tests
#                      (make test runs them)
#   DEB_WORK           the folder the copy is built in (default ./build-deb, emptied first)
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
work="${DEB_WORK:-$top/build-deb}"
export DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS-nocheck parallel=$(nproc)}"

version="$(dpkg-parsechangelog -l "$top/debian/changelog" -S Version)"
rm -rf "$work"
mkdir -p "$work/varnol-$version"
if git -C "$top" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  # Tracked files and new files not ignored, without deleted ones.
  (cd "$top" && git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
    tar --null -T - -cf -) | tar -xf - -C "$work/varnol-$version"
else
  tar -C "$top" --exclude='./build*' --exclude='./.git' --exclude='./*.deb' -cf - . |
    tar -xf - -C "$work/varnol-$version"
fi

cd "$work/varnol-$version"
profiles=()
case " $DEB_BUILD_OPTIONS " in *" nocheck "*) profiles=(-Pnocheck) ;; esac
dpkg-buildpackage -b -us -uc "${profiles[@]}" >"$work/build.log" 2>&1 || {
  tail -n 40 "$work/build.log" >&2
  echo "error: dpkg-buildpackage failed; the whole log is $work/build.log" >&2
  exit 1
}
cd "$work"
deb="$(ls varnol_"${version}"_*.deb)"
cp "$deb" "$top/"
echo "$top/$deb"
