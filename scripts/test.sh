#!/usr/bin/env bash
# Builds and runs every test under AddressSanitizer+UBSan (dev) and ThreadSanitizer (tsan), runs
# each fuzz target for a few seconds (fuzz, clang), then cross-compiles for Windows and runs the
# Windows tests under Wine (windows).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

presets=("${@:-dev}")
[[ $# -gt 0 ]] || presets=(dev tsan fuzz windows)
for preset in "${presets[@]}"; do
    echo "=== $preset ==="
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    ctest --preset "$preset" -j "$(nproc)"
done
