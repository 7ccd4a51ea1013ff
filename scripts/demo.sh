#!/usr/bin/env bash
# The main job: builds the daemon and the tools, starts norvo-vtapd with a simulated
# tap sensor in a temporary folder, plays a short demo through vtap-sensor and
# vtapctl, explaining each step, and stops the daemon cleanly.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh linux

echo "Building norvo-vtapd, vtapctl and vtap-sensor (release preset)..."
cmake --preset release >/dev/null
cmake --build --preset release --target norvo-vtapd vtapctl vtap-sensor
bin=build/release
folder=$(mktemp -d "${TMPDIR:-/tmp}/norvo-demo-XXXXXX")
endpoint=$folder/NorvoVxtRpcEndpoint
daemon_pid=""

cleanup() {
    exec 3>&- 4>&- || true
    [[ -z $daemon_pid ]] || kill "$daemon_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$folder"
}
trap cleanup EXIT

bold=""
plain=""
if [[ -t 1 ]]; then
    bold=$'\033[1m'
    plain=$'\033[0m'
fi
say() { printf '\n%s%s%s\n' "$bold" "$*" "$plain"; }

# Waits (at most 30 s) until FILE has a line matching PATTERN after its first FROM lines.
wait_for() {
    local file=$1 from=$2 pattern=$3
    if ! timeout 30 grep -m1 -q -- "$pattern" < <(tail -n "+$((from + 1))" -f --pid="$daemon_pid" "$file"); then
        echo "demo: no line matching '$pattern' in $file" >&2
        exit 1
    fi
}

# The client's lines since the last step.
shown=0
client_says() {
    local pattern=$1
    wait_for "$folder/client.out" "$shown" "$pattern"
    tail -n "+$((shown + 1))" "$folder/client.out" | sed 's/^/    client: /'
    shown=$(wc -l < "$folder/client.out")
}

say "1. Starting the tap service, norvo-vtapd, in $folder."
echo "   It listens for clients on $endpoint"
echo "   and for the simulated laptop tap sensor on $folder/sensor."
"$bin/linux/host/norvo-vtapd" --socket "$endpoint" --sensor-socket "$folder/sensor" \
    2> "$folder/daemon.log" &
daemon_pid=$!
wait_for "$folder/daemon.log" 0 "RpcServer created"
echo "   The service is up (its log says: RpcServer created)."

mkfifo "$folder/client.in" "$folder/sensor.in"
"$bin/tools/vtapctl/vtapctl" --socket "$endpoint" session < "$folder/client.in" > "$folder/client.out" &
exec 3> "$folder/client.in"
"$bin/tools/sensor/vtap-sensor" -q --socket "$folder/sensor" < "$folder/sensor.in" &
exec 4> "$folder/sensor.in"

say "2. A companion app connects (vtapctl session). It opens a context, asks to hear about"
echo "   laptop taps that no phone tap confirms (property 9), and starts the sensor with cookie 7."
printf 'open\nset 9 1\nstart 7\n' >&3
client_says "SignalReturn 0x0"
echo "   SignalReturn 0x0: the service's sensor loop is running for this client."

say "3. The laptop's tap sensor appears (vtap-sensor: enter)."
echo enter >&4
client_says "SensorStateReady"
echo "   The client is told the sensor is ready."

say "4. The phone is tapped (the app forwards it), and 200 ms later the laptop is tapped."
echo "   Both land within the 500 ms confirmation range, so they are one confirmed tap."
echo phone >&3
sleep 0.2
echo tap >&4
client_says "TapEvent Confirmed"

say "5. Now only the laptop is tapped. No phone tap follows within 500 ms,"
echo "   so the service reports it as unconfirmed."
echo tap >&4
client_says "TapEvent UnconfirmedTap"

say "6. The sensor leaves (unplugged), then comes back."
echo leave >&4
client_says "SensorStateError"
echo "   While it is gone the client sees the error state."
echo enter >&4
client_says "SensorStateReady"
echo "   Back again, and ready."

say "7. The app stops the sensor and closes its context."
printf 'stop\nwait\nclose\n' >&3
client_says "close -> ok"
exec 3>&- 4>&-
wait_for "$folder/daemon.log" 0 "Sensor device disconnected"
echo "   Both tools end; the sensor is gone again."

say "8. Stopping the service with SIGTERM, as systemd does."
kill -TERM "$daemon_pid"
status=0
wait "$daemon_pid" || status=$?
daemon_pid=""
wait
echo "   norvo-vtapd exited with status $status. The last lines of its log:"
tail -n 7 "$folder/daemon.log" | sed 's/^/    /'
echo
echo "The full log is one line per record with its journald priority: <3> error, <4> warning,"
echo "<6> info, <7> debug and trace. Under systemd it goes to the journal (README: Installing)."
[[ $status -eq 0 ]]
