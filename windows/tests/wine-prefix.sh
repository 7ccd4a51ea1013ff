#!/usr/bin/env bash
# The Wine prefix of the Windows tests: `setup` makes a fresh one with a wineserver that
# stays up (services would otherwise be ended a few seconds after the last program exits);
# `cleanup` ends that wineserver and removes the prefix.
set -euo pipefail
: "${WINEPREFIX:?}"
export WINEDEBUG=-all
if ! command -v wineboot >/dev/null || ! command -v wineserver >/dev/null; then
    echo "wine-prefix: Wine is not installed; scripts/install-deps.sh installs wine and wine64" >&2
    exit 127
fi

case "${1:-}" in
setup)
    wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX" "$WINEPREFIX.boot.log"
    mkdir -p "$WINEPREFIX"
    # Wine's background programs must not hold the test's output open: all output goes to the log.
    if ! wineboot -i </dev/null >"$WINEPREFIX.boot.log" 2>&1; then
        echo "wine-prefix: wineboot failed to initialise $WINEPREFIX:" >&2
        cat "$WINEPREFIX.boot.log" >&2
        exit 1
    fi
    # Let the first start-up finish and the prefix settle on disk, then keep one server up.
    wineserver -w
    wineserver -p </dev/null >>"$WINEPREFIX.boot.log" 2>&1
    # The first program of a server session starts Wine's services (and the RPC endpoint mapper
    # with them), which inherit its output: start them here, on the log.
    wine cmd /c exit 0 </dev/null >>"$WINEPREFIX.boot.log" 2>&1
    touch "$WINEPREFIX/.ready"
    echo "wine prefix ready: $WINEPREFIX"
    ;;
cleanup)
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    rm -rf "$WINEPREFIX" "$WINEPREFIX.boot.log"
    ;;
*)
    echo "usage: wine-prefix.sh setup|cleanup" >&2
    exit 2
    ;;
esac
