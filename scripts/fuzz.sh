#!/usr/bin/env bash
# Runs one fuzz target, or every one in turn, for longer than the CTest smoke run.
#   scripts/fuzz.sh TARGET|all [SECONDS]     (targets: client_event property server_frames
#                                             client_frames scenario server_session, each one
#                                             with a fuzz/corpus/<target>; SECONDS per target, 600)
# The working corpus grows in $NORVO_FUZZ_DIR/<target>/corpus (default /tmp/norvo-fuzz), seeded
# from the committed fuzz/corpus/<target>, which is only read. Crash inputs land in
# $NORVO_FUZZ_DIR/<target>/crashes/; reproduce one with build/fuzz/fuzz/fuzz_<target> FILE.
set -euo pipefail
cd "$(dirname "$0")/.."

# Every target has a seed corpus of its name: a new target is run by `all` as soon as it has one.
targets=()
for corpus in fuzz/corpus/*/; do
    targets+=("$(basename "$corpus")")
done
if [[ $# -lt 1 || $# -gt 2 ]]; then
    echo "usage: $0 TARGET|all [SECONDS]   (targets: ${targets[*]})" >&2
    exit 2
fi
[[ $1 == all ]] || targets=("$1")
seconds=${2:-600}
work=${NORVO_FUZZ_DIR:-/tmp/norvo-fuzz}

for target in "${targets[@]}"; do
    [[ -d fuzz/corpus/$target ]] || { echo "unknown target: $target" >&2; exit 2; }
done
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${targets[@]/#/fuzz_}"

status=0
for target in "${targets[@]}"; do
    mkdir -p "$work/$target/corpus" "$work/$target/crashes"
    echo "=== $target: ${seconds}s, corpus $work/$target/corpus"
    build/fuzz/fuzz/"fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$work/$target/crashes/" \
        "$work/$target/corpus" "fuzz/corpus/$target" || {
        status=1
        echo "=== $target found a failure; inputs in $work/$target/crashes/" >&2
    }
done
exit "$status"
