#!/usr/bin/env bash
# The install as a desktop and a Debian system see it: the menu entry and the metainfo
# pass their validators, the package builds, lintian finds no error in it, it unpacks
# into a scratch root, and the agent there answers --version.
#   scripts/check-install.sh [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
DESTDIR="$scratch/stage" cmake --install "$build" --prefix /usr >/dev/null
desktop-file-validate "$scratch"/stage/usr/share/applications/*.desktop
appstreamcli validate --no-net "$scratch"/stage/usr/share/metainfo/*.metainfo.xml
(cd "$build" && cpack -G DEB -B "$scratch/package" >/dev/null)
deb=$(ls "$scratch"/package/morvane_*.deb)
dpkg-deb --field "$deb" Package Version Maintainer Depends
# An error fails the check; warnings are shown, all of them.
lintian --fail-on error --tag-display-limit 0 "$deb"
dpkg -x "$deb" "$scratch/root"
env -u DISPLAY -u WAYLAND_DISPLAY "$scratch/root/usr/bin/quennet" --version
echo "The install and the package check out."
