#!/usr/bin/env bash
# vtapctl.exe against the installed service under Wine: one-shot query and set, a session
# (open, set, query, a start that fails without a Sensor API, a stop that finds the run ended,
# close), and the line a call that finds no service prints.
#   vtapctl_test.sh NORVO_VTAP_EXE SERVICE_PROBE_EXE INSTALL_SCRIPT VTAPCTL_EXE
set -uo pipefail
exe=$1
probe=$2
script=$(winepath -w "$3")
vtapctl=$4
source "$(dirname "$0")/checks.sh"

wine cmd /c "$script" install "$(winepath -w "$exe")" >/dev/null 2>&1 || { echo "install failed" >&2; exit 1; }
trap 'wine sc stop NorvoVTap >/dev/null 2>&1; wine cmd /c "$script" remove >/dev/null 2>&1' EXIT
wine sc start NorvoVTap >/dev/null 2>&1
check "service serving" "endpoint=listening" "$(wine "$probe" serving 2>&1 | grep -o 'endpoint=listening')"

check_equal "set" $'set 3 -> 0x0\nexit=0' "$(run wine "$vtapctl" set 3 250)"
# A fresh context: the default range.
check_equal "query" $'query 3 -> 0x0 len=4 F4 01 00 00\n  confirmation range: 500 ms\nexit=0' "$(run wine "$vtapctl" query 3)"
check_equal "query of an unknown key" $'query 99 -> 0x80070057\n  E_INVALIDARG\nexit=1' "$(run wine "$vtapctl" query 99)"

session=$(printf '%s\n' open "set 3 300" "query 3" "start 7" wait stop close |
    run wine "$vtapctl" session)
check_equal "session" $'open -> ok\nset 3 -> 0x0\nquery 3 -> 0x0 len=4 2C 01 00 00\n  confirmation range: 300 ms\nstart -> 0x8000ffff\n  E_UNEXPECTED\nstop -> 0x80004004\n  E_ABORT\nclose -> ok\nexit=0' \
    "$session"

# The description is the system's message, which differs between Windows and Wine.
no_service=$(run wine "$vtapctl" --socket NoSuchEndpoint query 1)
check "no service at the endpoint" "open -> rpc error 1722 (" "$no_service"
check "no service: the command fails" $')\n  RPC_S_SERVER_UNAVAILABLE\nexit=1' "$no_service"

finish "vtapctl test"
