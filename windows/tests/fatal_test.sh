#!/usr/bin/env bash
# Uncaught exceptions reach the event log: each case's report, as Wine traces ReportEventW,
# and the process's end (abort: exit status 3).
#   fatal_test.sh FATAL_PROBE_EXE
set -uo pipefail
probe=$1
source "$(dirname "$0")/checks.sh"

out=$(WINEDEBUG=-all,err+eventlog run wine "$probe" out-of-range)
check "a named thread's report" "ReportEventW L\"thread 'sensor loop' panicked at " "$out"
check "the terminate handler's location" "core/src/fatal.cpp:" "$out"
check "what ended the process" 'L"uncaught exception"' "$out"
check "the exception's type and what()" 'L"std::out_of_range: vector::_M_range_check' "$out"
check "aborted" "exit=3" "$out"

out=$(WINEDEBUG=-all,err+eventlog run wine "$probe" system-error)
check "the main thread's report" "ReportEventW L\"thread 'main' panicked at " "$out"
check "a system error's type and what()" 'L"std::system_error: thread: ' "$out"
check "aborted" "exit=3" "$out"

finish "fatal test"
