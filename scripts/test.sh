#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test, then checks the
# install and the Debian package.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVANE_TESTS=ON -DMORVANE_BENCHMARKS=ON
cmake --build build -j"$(nproc)"
run=()
if [ "$(id -u)" -eq 0 ] && command -v runuser >/dev/null; then
    # Permission bits do not stop root, so the tests of unreadable and read-only files
    # would prove nothing: run them as an ordinary user.
    id morvanetest >/dev/null 2>&1 ||
        useradd --system --no-create-home --shell /usr/sbin/nologin morvanetest
    chown -R morvanetest build
    # A home of its own, outside /tmp where the tests make their folders.
    testhome=$(mktemp -d /var/tmp/morvanetest-XXXXXX)
    chown morvanetest "$testhome"
    run=(runuser -u morvanetest -- env HOME="$testhome")
fi
"${run[@]}" env QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j"$(nproc)"
scripts/check-install.sh build
