#!/usr/bin/env bash
# Builds and runs every test under AddressSanitizer+UBSan (dev) and ThreadSanitizer (tsan).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

presets=("${@:-dev}")
[[ $# -gt 0 ]] || presets=(dev tsan)
for preset in "${presets[@]}"; do
    echo "=== $preset ==="
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    ctest --preset "$preset" -j "$(nproc)"
done
