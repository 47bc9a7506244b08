#!/usr/bin/env bash
# Builds everything with the address and undefined-behaviour sanitizers in a folder of
# its own and runs the whole suite there; any report fails the run.
#   scripts/sanitize.sh [build folder, default build-asan] [ctest arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-asan}
shift $(($# > 0 ? 1 : 0))
flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVANE_TESTS=ON -DMORVANE_BENCHMARKS=OFF \
    "${launcher[@]}" -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined"
cmake --build "$build" -j"${MORVANE_JOBS:-$(nproc)}"
# A report ends the process with an error, also in the programs the tests start.
export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=0:detect_stack_use_after_return=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
run=()
if [ "$(id -u)" -eq 0 ] && command -v runuser >/dev/null; then
    # As in scripts/test.sh: root ignores permission bits, so run as an ordinary user.
    id morvanetest >/dev/null 2>&1 ||
        useradd --system --no-create-home --shell /usr/sbin/nologin morvanetest
    chown -R morvanetest "$build"
    testhome=$(mktemp -d /var/tmp/morvanetest-XXXXXX)
    chown morvanetest "$testhome"
    run=(runuser -u morvanetest -- env HOME="$testhome" ASAN_OPTIONS="$ASAN_OPTIONS" UBSAN_OPTIONS="$UBSAN_OPTIONS")
fi
"${run[@]}" env QT_QPA_PLATFORM=offscreen ctest --test-dir "$build" --output-on-failure -j"${MORVANE_JOBS:-$(nproc)}" "$@"
