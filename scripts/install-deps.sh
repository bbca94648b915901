#!/usr/bin/env bash
# Installs every Debian package Rotavine needs to build, test and benchmark.
# Safe to run again: packages already present are left as they are.
set -euo pipefail

packages=(
  cmake g++ make ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev qt6-translations-l10n
  libical-dev libturbojpeg0-dev libjpeg62-turbo-dev libjemalloc-dev
  fonts-liberation2 tzdata
  radicale xandikos xvfb xauth openbox trayer chromium
  desktop-file-utils appstream dpkg-dev file man-db groff-base
  clang-format poppler-utils time bc
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
echo "install-deps: installed ${missing[*]}"
