#!/usr/bin/env bash
# Installs the Debian packages that are missing: "run" for building and running the
# programs, "test" for that and everything the tests, the screenshots and the package
# checks need.
#   scripts/deps.sh run|test
set -euo pipefail
# Building, and running natively on X11 and Wayland with the toolkit's own buttons in
# the chosen language.
pkgs=(build-essential cmake qt6-base-dev qt6-multimedia-dev qt6-qpa-plugins qt6-wayland qt6-translations-l10n)
if [ "${1:-run}" = test ]; then
    # openbox, tint2, xdotool, x11-utils and imagemagick: a real tray on a virtual display
    # for the tray test and the screenshots; dbus: a private bus with a notification
    # service; desktop-file-utils, appstream, dpkg-dev, file and lintian: the checks of the
    # install and the package.
    pkgs+=(libgtest-dev libgmock-dev googletest xvfb xauth openbox tint2 xdotool x11-utils imagemagick
           dbus desktop-file-utils appstream dpkg-dev file lintian)
fi
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
