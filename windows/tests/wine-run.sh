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
# A program that crashes can still end with status 0 once Wine's debugger has let it go: Wine's
# own line on standard error tells.
errors=$(mktemp)
trap 'rm -f "$errors"' EXIT
{ wine "$@" 2>&1 1>&3 | tee "$errors" >&2; } 3>&1
status=${PIPESTATUS[0]}
if ((status == 0)) && grep -q '^wine: Unhandled exception' "$errors"; then
    echo "wine-run: $(basename "$1") crashed under Wine (an unhandled exception) yet ended with status 0" >&2
    status=1
fi
if ((status != 0)); then
    echo "wine-run: $(basename "$1") failed under Wine with exit status $status" >&2
fi
exit "$status"
