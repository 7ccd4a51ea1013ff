#!/usr/bin/env bash
# Runs one Windows test program under Wine in the test prefix (the emulator of the windows
# preset), and names the program when it fails.
set -uo pipefail
if ! command -v wine >/dev/null; then
    echo "wine-run: wine is not installed; scripts/install-deps.sh installs wine and wine64" >&2
    exit 127
fi
if [[ -z "${WINEPREFIX:-}" || ! -f "$WINEPREFIX/.ready" ]]; then
    echo "wine-run: no initialised Wine prefix at '${WINEPREFIX:-}'; run the tests with ctest --preset windows," \
        "whose wine_prefix fixture makes one" >&2
    exit 1
fi
export WINEDEBUG="${WINEDEBUG:--all}"
wine "$@"
status=$?
if ((status != 0)); then
    echo "wine-run: $(basename "$1") failed under Wine with exit status $status" >&2
fi
exit "$status"
