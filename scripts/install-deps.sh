#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages the build, the tests and the benchmarks need.
# Does nothing when they are all there already; needs root (or sudo) otherwise.
# "install-deps.sh fuzz" adds clang and its libFuzzer runtime, for `make fuzz` only.
# With the argument "package": also the tools that build, check and install the Debian package.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config make
  libgtest-dev libgmock-dev libbenchmark-dev
  libwxgtk3.2-dev libgtk-3-dev libx11-dev
  openbox
  portaudio19-dev libsndfile1-dev libsoxr-dev
  libcairo2-dev fonts-dejavu-core
  xvfb xauth imagemagick
  pulseaudio pulseaudio-utils libasound2-plugins
  liblnk-utils
  python3
  libglib2.0-dev dbus-daemon
  tzdata
  scdoc man-db bash-completion
  chrony
)
if [ "${1:-}" = fuzz ]; then
  PACKAGES+=(clang libclang-rt-14-dev)
fi
if [ "${1:-}" = "package" ]; then
  PACKAGES+=(debhelper dpkg-dev fakeroot lintian desktop-file-utils appstream systemd)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then SUDO="sudo"; else
    echo "error: need root to install ${missing[*]}" >&2; exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
