#!/usr/bin/env bash
# Installs what building and running need, builds the programs (no tests, no
# benchmarks), and starts the agent (which offers the monitor).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh run
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVANE_TESTS=OFF -DMORVANE_BENCHMARKS=OFF
cmake --build build -j"$(nproc)" --target quennet kelvrim
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: the agent runs offscreen (no tray icon, no windows)."
    export QT_QPA_PLATFORM=offscreen
fi
if [ ! -x build/bin/quennet ]; then
    echo "The agent is not built yet." >&2
    exit 1
fi
exec build/bin/quennet
