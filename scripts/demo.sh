#!/usr/bin/env bash
# The main job: replays the scenario demo through the real procedures and sensor
# loop in virtual time, then measures the loop's throughput on the real clock.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target vtap-replay loop_bench
build/release/tools/replay/vtap-replay tests/scenarios/*.vtap
build/release/bench/loop_bench --benchmark_min_time=0.5
