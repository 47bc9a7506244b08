#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when missing.
set -euo pipefail
# openbox, tint2, xdotool, x11-utils and imagemagick: a real tray on a virtual display for the
# tray test and the screenshots.
pkgs=(build-essential cmake qt6-base-dev qt6-multimedia-dev libgtest-dev libgmock-dev googletest xvfb xauth
      openbox tint2 xdotool x11-utils imagemagick)
missing=()
for p in "${pkgs[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo_cmd=""
    [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
    $sudo_cmd apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y "${missing[@]}"
fi
