#!/usr/bin/env bash
# Builds a Release tree and prints the figures that back the performance goals:
#   - the routing callback's block copy against ten plain memcpy calls;
#   - the whole program's idle CPU use, Watching (driver, no mixer) and
#     Routing (a mixer routed on the audio device's own thread), over 10 s,
#     without a display and again under a virtual one (Xvfb), where the
#     status icon is a real window;
#   - the time from a mixer's HID interface appearing to the first routed
#     block on its outputs, with the USB audio device showing 0 ms and 300 ms
#     after the HID interface.
# The figures are this machine's; run it on an otherwise idle machine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh build
build_dir=${QUOR_BUILD_DIR:-build-measure}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUOR_BUILD_TESTS=OFF >/dev/null
cmake --build "$build_dir" --target quor_benchmarks quor_idle_cpu quor_arrival_latency
bench="$build_dir/bench"

run() {
    echo "\$ $*"
    "$@"
    echo
}

echo
echo "== Routing: one block of ten channels, the callback against ten memcpy calls"
run "$bench/quor_benchmarks" --benchmark_filter='Routing|Memcpy' --benchmark_repetitions=20 \
    --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true

echo "== Idle CPU of the whole process (getrusage), 10 s each (goal while Watching: under 1 %)"
echo "-- without a display"
run env -u DISPLAY "$bench/quor_idle_cpu" watching 10
run env -u DISPLAY "$bench/quor_idle_cpu" routing 10
# JUCE on Linux gives every window peer a timer at the display's refresh rate
# (100 Hz when the display reports none, as Xvfb does); the icon is one.
echo "-- under a virtual display"
run xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$bench/quor_idle_cpu" watching 10
run xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$bench/quor_idle_cpu" routing 10

echo "== From a mixer's HID interface appearing to its first routed block (goal: 250 ms + the audio delay)"
run "$bench/quor_arrival_latency" 20 0
run "$bench/quor_arrival_latency" 20 300
