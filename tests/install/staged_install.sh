#!/usr/bin/env bash
# An install staged with DESTDIR into a prefix of its own, run from there with an empty
# data folder: both programs find the shipped texts where they were installed, the help
# lies where they look for it, and a text added to the shipped English.ini reaches a user
# whose data folder an older version filled.
# Usage: staged_install.sh <build dir>
set -euo pipefail
build=$1
work=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR="$work/stage" cmake --install "$build" --prefix /opt/morvane-test >/dev/null
root="$work/stage/opt/morvane-test"
[ -x "$root/bin/quennet" ] && [ -x "$root/bin/kelvrim" ] || fail "programs not installed"
[ -f "$root/share/morvane/_Help/PellaryHelp.html" ] || fail "help not installed beside the programs' share folder"
english="$root/share/morvane/Langs/English.ini"
[ -f "$english" ] || fail "English.ini not installed"
# What the desktop finds: a menu entry that starts the monitor of this install, the icon
# in every size, the metainfo and the manual pages.
entry="$root/share/applications/org.morvane.Morvane.desktop"
[ -f "$entry" ] || fail "no menu entry"
grep -qx 'Exec="/opt/morvane-test/bin/quennet" --show-monitor' "$entry" || { cat "$entry"; fail "the menu entry does not open this install's monitor"; }
grep -qx 'Icon=org.morvane.Morvane' "$entry" || fail "the menu entry names no icon"
[ -f "$root/share/icons/hicolor/scalable/apps/org.morvane.Morvane.svg" ] || fail "no scalable icon"
for size in 16 22 24 32 48 64 128 256; do
    [ -f "$root/share/icons/hicolor/${size}x${size}/apps/org.morvane.Morvane.png" ] || fail "no ${size}px icon"
done
[ -f "$root/share/metainfo/org.morvane.Morvane.metainfo.xml" ] || fail "no metainfo"
for program in quennet kelvrim; do
    [ -f "$root/share/man/man1/$program.1" ] || fail "no manual page for $program"
    # Answered before any display is needed.
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/bin/$program" --version | grep -q "^$program (Morvane) " ||
        fail "$program --version"
done
# The monitor's help is the one installed here.
"$root/bin/kelvrim" --help | grep -qF "$root/share/morvane/_Help/PellaryHelp.html" || fail "the monitor's help is not found"

# A later install's new text.
sed -i 's/^MesAgentExists=.*/MesAgentExists=Staged agent is already running/' "$english"
sed -i 's/^MesAgentNotFound=.*/MesAgentNotFound=Staged monitor finds no agent/' "$english"

export MORVANE_HOME="$work/home" MORVANE_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/config"
export XDG_STATE_HOME="$work/state" QT_QPA_PLATFORM=offscreen MORVANE_AUTO_ANSWER=no
mkdir -p "$MORVANE_HOME/Langs"
# What an older version left: the agent's built-in texts written into the data folder.
printf '[Form1]\nkitTrayIcon1.Hint=Morvane Agent\nShowPellary1.Caption=Show Monitor\nShutdown1.Caption=Shut down\n' \
    >"$MORVANE_HOME/Langs/English.ini"

# The monitor without an agent asks in the shipped words (answered No).
"$root/bin/kelvrim" >"$work/kelvrim.out" 2>&1 || true
grep -q "Staged monitor finds no agent" "$work/kelvrim.out" || { cat "$work/kelvrim.out"; fail "monitor missed the shipped text"; }

"$root/bin/quennet" >"$work/agent.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    grep -q "without its icon" "$work/agent.out" && break
    sleep 0.1
done
grep -q "without its icon" "$work/agent.out" || { cat "$work/agent.out"; fail "agent did not start"; }
"$root/bin/quennet" >"$work/second.out" 2>&1 || true
grep -q "Staged agent is already running" "$work/second.out" || { cat "$work/second.out"; fail "agent missed the shipped text"; }

[ ! -e "$MORVANE_HOME/Langs/English.ini" ] || fail "the old copy of the shipped texts stays in the data folder"
ls -A "$MORVANE_HOME/Langs" | grep -q . && fail "the data folder holds shipped language files"
# The menu entry's command with no agent running and every box answered Yes, from here and
# from the build tree: the monitor's window comes up (the block says a monitor runs), and
# goes with the agent.
monitor_is() {
    for _ in $(seq 200); do
        [ "$(od -An -tu1 -j1 -N1 "$1/MVMem.shm" 2>/dev/null | tr -d ' ')" = "$2" ] && return 0
        sleep 0.1
    done
    return 1
}
for program in "$root/bin/quennet" "$build/bin/quennet"; do
    run=$(mktemp -d "$work/run.XXXXXX")
    MORVANE_HOME="$run/home" MORVANE_RUNTIME_DIR="$run/r" MORVANE_AUTO_ANSWER=yes "$program" \
        $(sed -n 's/^Exec="[^"]*"//p' "$entry") >"$run/out" 2>&1 &
    pids+=($!)
    monitor_is "$run/r" 1 || { cat "$run/out"; fail "the menu entry's command brought up no monitor: $program"; }
    kill $! && wait $! || true
    monitor_is "$run/r" 0 || fail "the monitor stayed after its agent ended"
done
echo "staged install finds its texts and help, and its menu entry opens the monitor"
