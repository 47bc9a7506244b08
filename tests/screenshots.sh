#!/usr/bin/env bash
# Pictures of the monitor's main window under a virtual display: the agent and the
# monitor start in a prepared home with several items and versions, and the monitor
# saves PNG files of its window (report, list and icons views, folders tree, versions list,
# a folder selected, the tool bar with and without captions), of its dialogs (folder
# options, item properties on each page, system options, about box, folder browse, move
# versions), of the progress dialog and of the first screen of the help page; then the main
# window after a move of the versions that was cancelled part-way (with the tests built).
# With openbox and tint2 installed, a panel with a tray runs first and tray-area.png
# shows the agent's icon in it. menu-entry-icon.png is the icon the installed menu entry
# names; monitor-window-icon.png the one the monitor's windows give the desktop. The monitor
# then starts three more times and saves its main window each time (main-restart-N.png); the
# layout file must stay as the first run left it, or the script says what moved and fails.
#
#   tests/screenshots.sh [build folder] [output folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
out=$(realpath -m "${2:-$build/screenshots}")
for program in quennet kelvrim; do
    if [ ! -x "$build/bin/$program" ]; then
        echo "$build/bin/$program is not built" >&2
        exit 1
    fi
done

work=$(mktemp -d /tmp/mvshots-XXXXXX)
trap 'rm -rf "$work"' EXIT
export HOME="$work/user"
export MORVANE_HOME="$work/home/"
export MORVANE_RUNTIME_DIR="$work/r"
export XDG_CONFIG_HOME="$work/config"
export XDG_DATA_HOME="$work/data"
export MORVANE_AUTO_ANSWER=no
mkdir -p "$HOME/Documents/Letters" "$HOME/Projects/site" "$MORVANE_HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"
mkdir -p -m 0700 "$MORVANE_RUNTIME_DIR"

backup="${MORVANE_HOME}backup"
list="${MORVANE_HOME}mvlist.srv"
cat >"${MORVANE_HOME}kelvrim.ini" <<EOF
[Basic]
BackupPath=$backup/
Language=English
[ExplorerMenu]
ShowDate=1
ShowFileName=1
DateFormat=yyyy-mm-dd hh:nn
EOF

# item <path> <FileID> <monitored> <mode> [versions...]: a list section and its versions.
item() {
    local path=$1 id=$2 monitored=$3 mode=$4
    shift 4
    local folder=0
    [[ $path == */ ]] && folder=1
    cat >>"$list" <<EOF
[$path]
Monitored=$monitored
FileID=$id
MonMode=$mode
MonStatus=$monitored
DelMode=0
DelModeNumber=10
IsFolder=$folder
FolderWait=3
MonModeSize=1
IsSaved=1
EOF
    local n=0
    for text in "$@"; do
        n=$((n + 1))
        local version
        version=$(printf '%03d' "$n")
        mkdir -p "$backup/$id/$version"
        printf '%s\n' "$text" >"$backup/$id/$version/$(basename "$path")"
        touch -d "2024-05-0$n 10:1$n" "$backup/$id/$version/$(basename "$path")"
    done
    if [ "$folder" = 0 ]; then
        printf '%s\n' "${*: -1}" >"$path"
        cat >>"$list" <<EOF
VersionNum=$n
EOF
    fi
}

item "$HOME/Documents/" 240501100 1 0
item "$HOME/Documents/Letters/" 240501101 1 0
item "$HOME/Projects/site/" 240501102 0 0
item "$HOME/Documents/report.odt" 240501001 1 0 "draft" "second draft" "final" "final, checked"
item "$HOME/Documents/budget.ods" 240501002 1 1 "q1" "q2"
item "$HOME/Documents/notes.txt" 240501003 0 2 "a"
item "$HOME/Documents/Letters/bank.txt" 240501004 1 0 "dear sir" "dear madam"
item "$HOME/Projects/site/index.html" 240501005 1 0 "<html>" "<html><body>" "<html><body>hi"

mkdir -p "$out"
rm -f "$out"/*.png
# The icon the installed menu entry names, as the icon theme holds it.
cmake --install "$build" --prefix "$work/inst" >/dev/null
icon=$(sed -n 's/^Icon=//p' "$work"/inst/share/applications/*.desktop)
cp "$work/inst/share/icons/hicolor/256x256/apps/$icon.png" "$out/menu-entry-icon.png"
# A panel with a tray, started before the agent as at login, when the desktop tools are here.
printf '%s\n' "rounded = 0" "border_width = 0" "background_color = #203040 100" \
    "border_color = #203040 100" "panel_items = S" "panel_position = bottom right horizontal" \
    "panel_size = 240 32" "panel_background_id = 1" "systray_padding = 4 4 4" \
    "systray_background_id = 1" "systray_icon_size = 24" >"$work/tint2rc"
xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
    set -euo pipefail
    desktop=()
    if command -v openbox >/dev/null && command -v tint2 >/dev/null; then
        openbox >/dev/null 2>&1 &
        desktop+=($!)
        tint2 -c "$3/tint2rc" >/dev/null 2>&1 &
        desktop+=($!)
        for _ in $(seq 100); do
            xwininfo -root -tree 2>/dev/null | grep -qF "\"tint2\"" && break
            sleep 0.1
        done
    else
        echo "openbox or tint2 is missing: no picture of the tray area" >&2
    fi
    "$1/bin/quennet" >"$2/quennet.log" 2>&1 &
    agent=$!
    for _ in $(seq 100); do
        [ -e "$MORVANE_RUNTIME_DIR/MVMem.shm" ] && break
        sleep 0.1
    done
    sleep 1
    if [ ${#desktop[@]} -gt 0 ] && command -v import >/dev/null; then
        for _ in $(seq 50); do
            xwininfo -root -tree | grep -qF "\"Morvane Agent\": (\"quennet\"" && break
            sleep 0.1
        done
        sleep 0.5
        panel=$(xwininfo -root -tree | grep -F "\"tint2\"" | awk "{print \$1}" | head -1)
        if [ -n "$panel" ]; then
            # The icon is a window of its own inside the panel: take it from the screen.
            geometry=$(xwininfo -id "$panel" | awk "/Absolute upper-left X/{x=\$4} /Absolute upper-left Y/{y=\$4} /Width/{w=\$2} /Height/{h=\$2} END{print w \"x\" h \"+\" x \"+\" y}")
            import -window root -crop "$geometry" +repage "$2/tray-area.png"
        else
            echo "the panel is not there: no picture of the tray area" >&2
        fi
    fi
    MORVANE_SCREENSHOT_DIR="$2" "$1/bin/kelvrim" >"$2/kelvrim.log" 2>&1 &
    monitor=$!
    # The icon the monitor gives its windows, as the desktop gets it.
    for _ in $(seq 100); do
        window=$(xdotool search --onlyvisible --pid "$monitor" 2>/dev/null | head -1) && [ -n "$window" ] && break
        sleep 0.1
    done
    [ -n "${window:-}" ] && tests/window-icon.sh "$window" "$2/monitor-window-icon.png" || echo "no window icon of the monitor" >&2
    wait "$monitor" || true
    # Three restarts: each opens the main window as the last one left it.
    cp "${MORVANE_HOME}mvparam.ini" "$3/layout-0.ini" || true
    for run in 1 2 3; do
        MORVANE_SCREENSHOT_MAIN="$2/main-restart-$run.png" "$1/bin/kelvrim" >>"$2/kelvrim.log" 2>&1 || true
        cp "${MORVANE_HOME}mvparam.ini" "$3/layout-$run.ini" || true
    done
    # The main window after a move of the versions cancelled part-way: nothing missing.
    if [ -x "$1/tests/bin/move_monitor" ]; then
        mkdir -p "$3/moved"
        "$1/tests/bin/move_monitor" "$3/moved" 2 "$2/main-after-cancelled-move.png" >"$2/move.log" 2>&1 || true
    fi
    kill "$agent" 2>/dev/null || true
    wait "$agent" 2>/dev/null || true
    for pid in "${desktop[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
' shots "$build" "$out" "$work"

for run in 1 2 3; do
    if ! diff -u "$work/layout-0.ini" "$work/layout-$run.ini" >"$out/layout-restart-$run.diff"; then
        echo "the layout changed at restart $run:" >&2
        cat "$out/layout-restart-$run.diff" >&2
        status=1
    else
        rm -f "$out/layout-restart-$run.diff"
    fi
done

ls "$out"/*.png >/dev/null 2>&1 || {
    echo "no pictures were made; see $out/*.log" >&2
    exit 1
}
echo "Pictures in $out:"
ls -1 "$out"/*.png
exit "${status:-0}"
