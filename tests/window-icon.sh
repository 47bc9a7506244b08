#!/usr/bin/env bash
# Saves the largest icon a window gives the desktop (_NET_WM_ICON) as a PNG file.
#   tests/window-icon.sh <window id> <file.png>
set -euo pipefail
xprop -len 16777216 -id "$1" -notype 32c _NET_WM_ICON | awk -F' = ' '
    NF > 1 {
        n = split($2, v, ", ")
        best = 0
        for (i = 1; i + 1 <= n; i += 2 + v[i] * v[i + 1])
            if (v[i] * v[i + 1] > bw * bh) { bw = v[i]; bh = v[i + 1]; best = i }
        if (!best) exit 1
        printf "# ImageMagick pixel enumeration: %d,%d,255,srgba\n", bw, bh
        # Each pixel is one ARGB number.
        for (p = 0; p < bw * bh; p++) {
            c = v[best + 2 + p]
            printf "%d,%d: (%d,%d,%d,%d)\n", p % bw, int(p / bw), int(c / 65536) % 256, int(c / 256) % 256, c % 256, int(c / 16777216) % 256
        }
    }' >"$2.txt"
[ -s "$2.txt" ] || { echo "window $1 gives no icon" >&2; rm -f "$2.txt"; exit 1; }
convert "txt:$2.txt" "png32:$2"
rm -f "$2.txt"
