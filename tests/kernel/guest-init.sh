#!/bin/sh
# PID 1 of the kernel test's VM: the IIO tap sensor on the real IIO core, driven through the
# test accelerometer's debugfs controls: a chip that reports taps, then one that streams
# samples. Each check prints "CHECK PASS|FAIL: what", each measurement "FIGURE: what"; the last
# line is "VM RESULT: PASS" or "VM RESULT: FAIL (N)", which run-vm-test.sh reads.
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t debugfs debugfs /sys/kernel/debug
mount -t tmpfs tmpfs /run
mount -t tmpfs tmpfs /tmp
insmod /modules/industrialio.ko
insmod /modules/kfifo_buf.ko
insmod /modules/norvo_vtap_accel.ko

controls=/sys/kernel/debug/norvo_vtap_accel
device=/sys/bus/iio/devices/iio:device0
failures=0

# Centiseconds since boot.
now() { read -r up _ </proc/uptime; echo "${up%.*}${up#*.}"; }

check() {
    what=$1
    shift
    if "$@"; then echo "CHECK PASS: $what"; else echo "CHECK FAIL: $what"; failures=$((failures + 1)); fi
}

# Reads descriptor FD (3: the daemon's log, 5: the client's output) until a line holds TEXT,
# for at most SECONDS; every line read is shown and kept in /tmp/seen.FD.
await() {
    fd=$1 text=$2 end=$(($(now) + $3 * 100))
    while left=$((end - $(now))) && [ "$left" -gt 0 ]; do
        IFS= read -r -t $(((left + 99) / 100)) line <&"$fd" || return 1
        echo "$line" >>/tmp/seen."$fd"
        echo "    $fd| $line"
        case $line in *"$text"*) return 0 ;; esac
    done
    return 1
}

# Like await, and says how long it took from START (centiseconds since boot).
await_since() {
    start=$1
    shift
    await "$@"
    found=$?
    echo "    took $(($(now) - start))0 ms"
    return $found
}

seen() { grep -c "$1" /tmp/seen.3; }
fire() { echo "$1" >"$controls/fire"; }

# The daemon, its standard error on descriptor 3.
start_daemon() {
    rm -f /tmp/log /tmp/seen.3
    mkfifo /tmp/log
    "$@" 2>/tmp/log &
    daemon=$!
    exec 3</tmp/log
}

stop_daemon() {
    kill -TERM "$daemon"
    check "the daemon stops" await 3 "Application stop" 10
    wait "$daemon"
    exec 3<&-
}

# vtapctl session on SOCKET: commands to descriptor 4, its lines on 5.
start_client() {
    rm -f /tmp/in /tmp/out /tmp/seen.5
    mkfifo /tmp/in /tmp/out
    vtapctl --socket "$1" session </tmp/in >/tmp/out &
    client=$!
    exec 4>/tmp/in 5</tmp/out
    echo "open" >&4
    echo "set 3 5000" >&4
    echo "start 7" >&4
}

stop_client() {
    echo "stop" >&4
    echo "close" >&4
    exec 4>&-
    check "the run ends" await 5 "close -> ok" 10
    wait "$client"
    exec 5<&-
}

tap_is_confirmed() {
    echo "phone" >&4
    await 5 "phone -> 0x0" 10 && fire single && await 5 "TapEvent Confirmed" 10
}

# A fresh device for each part: iio:device0 once no descriptor of an earlier one is open.
replug() {
    echo 1 >"$controls/unplug" 2>/dev/null
    echo 1 >"$controls/plug"
}

echo "=== root, no udevd, /sys writable, one switch shared by the axes"
replug
start_daemon norvo-vtapd --socket /run/one/NorvoVxtRpcEndpoint --sensor iio --log-level debug
check "the device enters, its events on the monotonic clock" \
    await 3 "IIO tap device iio:device0 (norvo-vtap-accel) entered, its events timed on the monotonic clock" 20
check "the daemon switched single taps on" [ "$(cat $device/events/in_accel_gesture_singletap_en)" = 1 ]
check "hot-plug through the kernel's device events, said once at start" \
    [ "$(seen "IIO hot-plug through the kernel's device events")" = 1 ]
start_client /run/one/NorvoVxtRpcEndpoint
check "a run finds the sensor present" await 3 "found immediately, activating" 10
check "a single tap confirms a phone tap" tap_is_confirmed
echo 1 >"$device/events/in_accel_gesture_doubletap_en" # the chip raises double taps too
fire double
fire other
check "a double tap and another event are ignored" \
    eval 'await 3 "Ignored IIO event" 10 && await 3 "Ignored IIO event" 10'
start=$(now)
echo 1 >"$controls/unplug"
check "the removal is seen within 3 s without udevd" await_since "$start" 3 "IIO tap device iio:device0 left" 3
check "the run sees the sensor leave" await 5 "state=SensorStateError" 5
start=$(now)
echo 1 >"$controls/plug"
check "the replugged device enters again with the same number" \
    await_since "$start" 3 "IIO tap device iio:device0 (norvo-vtap-accel) entered" 5
check "the run sees it ready again" await 5 "state=SensorStateReady" 5
check "a tap after the replug is confirmed" tap_is_confirmed
stop_client
stop_daemon

echo "=== the node held by another program"
replug
mkfifo /tmp/held
(exec 6<"/dev/iio:device0" && echo held && exec sleep 3600) >/tmp/held &
holder=$!
read -r held </tmp/held
check "another program holds the node" [ "$held" = held ]
start_daemon norvo-vtapd --socket /run/two/NorvoVxtRpcEndpoint --sensor iio --log-level debug
check "a busy node is held by another program" await 3 "is held by another program" 20
sleep 5 # the outage outlasts two retries
start=$(now)
kill "$holder"
check "the device enters once the node is free" \
    await_since "$start" 3 "IIO tap device iio:device0 (norvo-vtap-accel) entered" 5
check "one line for the whole outage" [ "$(seen "held by another program")" = 1 ]
stop_daemon

echo "=== the packaged service: its account, udevd with the package's rule, /sys read-only, a switch per axis"
echo 1 >"$controls/unplug" 2>/dev/null
rmmod norvo_vtap_accel
insmod /modules/norvo_vtap_accel.ko per_axis=1
/lib/systemd/systemd-udevd --daemon
udevadm settle
mkdir -m 0755 /run/norvo-vtap
chown norvo-vtap:norvo-vtap /run/norvo-vtap
start_daemon unshare -m sh -c 'mount --bind /sys /sys && mount -o remount,bind,ro /sys &&
    exec su -s /bin/sh norvo-vtap -c "exec norvo-vtapd --socket /run/norvo-vtap/NorvoVxtRpcEndpoint \
        --sensor-socket /run/norvo-vtap/sensor --sensor auto --log-level debug"'
check "without a device auto uses the simulated device socket" \
    await 3 "Sensor source: the simulated device socket" 20
start_client /run/norvo-vtap/NorvoVxtRpcEndpoint
check "a run starts without a sensor" await 5 "SignalReturn 0x0" 10
echo 1 >"$controls/plug"
udevadm settle
check "udev gives the node to the service's group, unreadable to others" \
    [ "$(stat -c '%G %a' /dev/iio:device0)" = "norvo-vtap 640" ]
for axis in x y z; do
    check "udev switched single taps on for axis $axis" \
        [ "$(cat $device/events/in_accel_${axis}_gesture_singletap_en)" = 1 ]
done
check "the service's account enters it under a read-only /sys" \
    await 3 "IIO tap device iio:device0 (norvo-vtap-accel) entered, its events timed on the realtime clock" 10
check "auto switches to the arriving device" await 3 "Sensor source: IIO tap device iio:device0 (auto: it arrived)" 5
check "the run sees the sensor ready" await 5 "state=SensorStateReady" 10
check "a single tap confirms a phone tap" tap_is_confirmed
start=$(now)
echo 1 >"$controls/unplug"
check "the removal is seen within 3 s with udevd" await_since "$start" 3 "IIO tap device iio:device0 left" 3
check "auto goes back to the simulated device socket" await 3 "Sensor source: the simulated device socket" 5
stop_client
stop_daemon

echo "=== an accelerometer that streams samples, as a sensor hub's; the packaged service as above"
echo 1 >"$controls/unplug" 2>/dev/null
rmmod norvo_vtap_accel
insmod /modules/norvo_vtap_accel.ko mode=samples
cat /traces/taps.txt >"$controls/samples" # its first sample held until played
echo 1 >"$controls/plug"
udevadm settle
check "udev lets the service's group set up the buffer" \
    [ "$(stat -c '%G %A' $device/buffer/enable $device/scan_elements/in_accel_x_en | sort -u)" = "norvo-vtap -rw-rw-r--" ]

# Another program (an orientation service, the recorder) can open the node.
node_free() { (exec 6<"/dev/iio:device0") 2>/dev/null; }

# Voluntary context switches of all the daemon's threads: each one a wake-up from a wait.
switches() { cat /proc/"$1"/task/*/status | awk '/^voluntary_ctxt_switches/ { n += $2 } END { print n }'; }

# Wake-ups of the daemon a second, over 5 s, as tenths: "FIGURE: WHAT: N.N wake-ups/s".
wakeups() {
    pid=$(pidof norvo-vtapd)
    before=$(switches "$pid") start=$(now)
    sleep 5
    after=$(switches "$pid") took=$(($(now) - start))
    tenths=$(((after - before) * 1000 / took))
    echo "FIGURE: $1: $((after - before)) wake-ups in ${took}0 ms, $((tenths / 10)).$((tenths % 10))/s" >&2
    echo "$tenths"
}

# Each tap: the laptop tap comes, then the phone's confirms it.
taps_are_confirmed() {
    taps=$1
    echo "play" >"$controls/fire"
    while [ "$taps" -gt 0 ]; do
        await 3 "Laptop tap detected" 10 && echo "phone" >&4 && await 5 "TapEvent Confirmed" 10 || return 1
        taps=$((taps - 1))
    done
}

start_daemon unshare -m sh -c 'mount --bind /sys /sys && mount -o remount,bind,ro /sys &&
    mount --bind /sys/devices /sys/devices && mount -o remount,bind,rw /sys/devices &&
    exec su -s /bin/sh norvo-vtap -c "exec norvo-vtapd --socket /run/norvo-vtap/NorvoVxtRpcEndpoint \
        --sensor-socket /run/norvo-vtap/sensor --sensor auto --log-level debug"'
check "the accelerometer enters" await 3 "IIO accelerometer iio:device0 (accel_3d) entered" 20
check "auto takes the accelerometer, with its reason" \
    await 3 "Sensor source: IIO accelerometer iio:device0, taps found in its samples (auto: present at start" 5
check "without a run its node is left free for other programs" node_free
check "without a run the daemon never wakes" [ "$(wakeups "no run")" = 0 ]
start_client /run/norvo-vtap/NorvoVxtRpcEndpoint
check "a run sets up the buffer at 100 Hz on the device's own clock" \
    await 3 "IIO accelerometer iio:device0 read at 100 Hz, its samples timed on the realtime clock" 10
check "while a run reads it the node is held" eval '! node_free'
check "the recorder names the program that holds the node" \
    eval 'vtap-sensor record --iio iio:device0 --seconds 1 2>&1 >/dev/null | grep -q "held by another program"'
# Ten a second, and a tick either side for where the window falls.
check "a run reading samples wakes the daemon at most 10 times a second" \
    [ "$(wakeups "a run reading 100 Hz")" -le 104 ]
check "every tap of the trace is confirmed" taps_are_confirmed "$(cat /traces/taps.count)"
cat /traces/typing.txt >"$controls/samples"
echo "play" >"$controls/fire"
check "typing alone gives no tap" eval '! await 3 "Laptop tap detected" 14'
check "one laptop tap for each tap of the trace" [ "$(seen "Laptop tap detected")" = "$(cat /traces/taps.count)" ]
stop_client
check "the run's end lets the node go" await 3 "IIO accelerometer iio:device0 released: no start wants taps" 5
check "the node is free again" node_free
check "vtap-sensor record records the device" vtap-sensor record --iio iio:device0 --seconds 2 -o /tmp/recorded.csv
recorded=$(grep -c '^[0-9]' /tmp/recorded.csv)
check "the recording is a trace of 2 s at 100 Hz" \
    eval 'grep -q "^# rate_hz=100$" /tmp/recorded.csv && [ "$recorded" -ge 190 ] && [ "$recorded" -le 202 ]'
stop_daemon

if [ "$failures" = 0 ]; then echo "VM RESULT: PASS"; else echo "VM RESULT: FAIL ($failures)"; fi
poweroff -f
