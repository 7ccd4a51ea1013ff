#!/usr/bin/env bash
# The service stopped while a client keeps it busy, again and again: every stop reports the
# stopped state with exit code 0 and the process itself ends with 0 (a fatal report aborts
# with 3, a crash ends with its exception code).
#   stop_cycles_test.sh NORVO_VTAP_EXE SERVICE_PROBE_EXE INSTALL_SCRIPT STOP_CYCLE_CLIENT_EXE [CYCLES]
set -uo pipefail
exe=$1
probe=$2
script=$(winepath -w "$3")
client=$4
cycles=${5:-20}
source "$(dirname "$0")/checks.sh"

wine cmd /c "$script" install "$(winepath -w "$exe")" >/dev/null 2>&1 || { echo "install failed" >&2; exit 1; }
trap 'wine cmd /c "$script" remove >/dev/null 2>&1' EXIT

for ((cycle = 1; cycle <= cycles; ++cycle)); do
    wine sc start NorvoVTap >/dev/null 2>&1
    serving=$(wine "$probe" serving 2>&1)
    pid=$(sed -n 's/.*pid=\([0-9]*\).*endpoint=listening.*/\1/p' <<<"$serving")
    if [[ -z "$pid" ]]; then
        check "cycle $cycle: serving" "endpoint=listening" "$serving"
        break
    fi
    coproc CLIENT { wine "$client" 2>&1; }
    # Bash forgets a coprocess's descriptor and pid once it ends: keep them.
    client_pid=$CLIENT_PID
    exec {client_out}<&"${CLIENT[0]}"
    read -r ready <&"$client_out"
    check "cycle $cycle: the client's calls answered" "ready" "$ready"
    stopped=$(wine "$probe" stop "$pid" 2>&1)
    calls=$(cat <&"$client_out")
    exec {client_out}<&-
    wait "$client_pid"
    echo "cycle $cycle: client: $calls"
    check "cycle $cycle: stopped, exit code 0, the process ended with 0" \
        "state=STOPPED exit=0 endpoint=not-listening process-exit=0x0" "$stopped"
done

finish "stop cycles ($cycles)"
