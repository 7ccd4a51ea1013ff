#!/usr/bin/env bash
# Checks the formatting, builds and runs every test under AddressSanitizer+UBSan (dev) and
# ThreadSanitizer (tsan), runs each fuzz target for a few seconds (fuzz, clang), builds the optimised
# release in full with its .debs (linted, then installed, run, removed and purged) and runs the tests
# once more optimised (release, with the IIO tap sensor on Debian's kernel under QEMU), then
# cross-compiles for Windows, runs the Windows tests under Wine and builds the .zip (windows).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/format.sh --check

presets=("${@:-dev}")
[[ $# -gt 0 ]] || presets=(dev tsan fuzz release windows)
for preset in "${presets[@]}"; do
    echo "=== $preset ==="
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    case $preset in
        release) scripts/check-package.sh source .
                 DEB_BUILD_OPTIONS=nocheck debian/rules clean binary  # ctest follows
                 scripts/check-package.sh deb build/release/norvo-vtap_*_amd64.deb
                 scripts/check-package.sh deb-dev build/release/norvo-vtap-dev_*_amd64.deb
                 scripts/deb-round-trip.sh build/release/norvo-vtap_*_amd64.deb \
                     build/release/norvo-vtap-dev_*_amd64.deb ;;
        windows) cmake --build --preset windows --target package
                 scripts/check-package.sh zip build/windows/norvo-vtap-*-win64.zip ;;
    esac
    ctest --preset "$preset" -j "$(nproc)"
done
