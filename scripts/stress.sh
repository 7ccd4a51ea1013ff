#!/usr/bin/env bash
# A long stress run against the real daemon of one build:
#   scripts/stress.sh [PRESET] [SECONDS] [vtap-stress options...]
# PRESET is dev (ASan+UBSan, the default), tsan or release; SECONDS defaults to 600.
# Prints one line per round (calls, starts, phone events, kills, RSS, threads).
set -euo pipefail
cd "$(dirname "$0")/.."

preset=${1:-dev}
seconds=${2:-600}
shift $(( $# < 2 ? $# : 2 ))

cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target vtap-stress
build=build/$preset
exec "$build/tests/stress/vtap-stress" \
    --daemon "$build/linux/host/norvo-vtapd" --sensor "$build/tools/sensor/vtap-sensor" \
    --seconds "$seconds" --steps 30 "$@"
