# The checks of the Wine test scripts; sourced.
failures=0

# check NAME EXPECTED ACTUAL: ACTUAL must contain EXPECTED
check() {
    if [[ "$3" == *"$2"* ]]; then
        echo "ok: $1"
    else
        echo "FAILED: $1: expected to find '$2' in:" >&2
        printf '%s\n' "$3" | sed 's/^/    /' >&2
        failures=$((failures + 1))
    fi
}

# check_equal NAME EXPECTED ACTUAL: ACTUAL is EXPECTED, line for line
check_equal() {
    if [[ "$3" == "$2" ]]; then
        echo "ok: $1"
    else
        echo "FAILED: $1: expected:" >&2
        printf '%s\n' "$2" | sed 's/^/    /' >&2
        echo "  got:" >&2
        printf '%s\n' "$3" | sed 's/^/    /' >&2
        failures=$((failures + 1))
    fi
}

# Each step's output, with stderr and without the CRs of Wine's console, and the exit status
# appended.
run() {
    local out
    out=$("$@" 2>&1)
    printf '%s\nexit=%s' "${out//$'\r'/}" "$?"
}

# finish NAME: the script's verdict and exit status.
finish() {
    if ((failures)); then
        echo "$1: $failures check(s) failed" >&2
        exit 1
    fi
    echo "$1: all checks passed"
    exit 0
}
