#!/usr/bin/env bash
# Installs the .debs as a user would, runs the service with `vtapctl query 1` and the packaged sample
# client as an ordinary user, removes and purges them, and fails unless no file or link of theirs is
# left: `deb-round-trip.sh DEB DEV_DEB`. systemd does not run in CI, so the service is started by hand
# the way its unit starts it: as its account, with the options of /etc/default/norvo-vtap. Needs root.
set -euo pipefail
[[ $(id -u) -eq 0 ]] || exec sudo "$0" "$@"
deb=$(realpath "$1") dev=$(realpath "$2")

for package in norvo-vtap norvo-vtap-dev; do
    if [[ $(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null) =~ ^(installed|config-files|half|unpacked) ]]; then
        echo "deb-round-trip: $package is already on this system; not touching it" >&2
        exit 1
    fi
done

# The system endpoint is made and removed here: not while another daemon serves it.
[[ ! -e /run/norvo-vtap ]] || { echo "deb-round-trip: /run/norvo-vtap is in use" >&2; exit 1; }

# Every path of ours, wherever a package, its scripts or deb-systemd-helper may put one.
ours() {
    find /etc /usr /lib /var/lib/systemd /var/lib/dpkg/info /run -xdev \
        \( -name '*norvo*' -o -name 'vtap*' \) -print 2>/dev/null | sort
}
before=$(ours)
work=$(mktemp -d)
chmod 755 "$work"
daemon_pid=""
cleanup() {
    [[ -z $daemon_pid ]] || kill "$daemon_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    for package in norvo-vtap norvo-vtap-dev; do
        DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "$package" >/dev/null 2>&1 || true
    done
    rm -rf "$work" /run/norvo-vtap
}
trap cleanup EXIT
fail() { echo "deb-round-trip: $*" >&2; exit 1; }

DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" "$dev" >/dev/null
getent passwd norvo-vtap >/dev/null || fail "no norvo-vtap account after install"
[[ -L /etc/systemd/system/multi-user.target.wants/norvo-vtap.service ]] ||
    fail "the unit is not enabled after install"

# What systemd does for the unit: RuntimeDirectory=, User=, EnvironmentFile=, no XDG_RUNTIME_DIR.
install -d -o norvo-vtap -g norvo-vtap -m 0755 /run/norvo-vtap
# shellcheck source=/dev/null
. /etc/default/norvo-vtap
# shellcheck disable=SC2086  # the options are words, as systemd splits $NORVO_VTAPD_OPTIONS
setpriv --reuid=norvo-vtap --regid=norvo-vtap --init-groups env -i PATH=/usr/bin:/bin \
    norvo-vtapd $NORVO_VTAPD_OPTIONS 2>"$work/daemon.log" &
daemon_pid=$!
timeout 30 grep -m1 -q "RpcServer created" < <(tail -f --pid="$daemon_pid" "$work/daemon.log") ||
    fail "the service did not start: $(cat "$work/daemon.log")"

# An ordinary user: a login uid with no runtime folder of its own.
as_user() {
    local uid
    uid=$(awk '$1 == "UID_MIN" {print $2}' /etc/login.defs)
    setpriv --reuid="${uid:-1000}" --regid="${uid:-1000}" --clear-groups \
        env -i PATH=/usr/bin:/bin HOME="$work" "$@"
}
reply=$(as_user vtapctl query 1) || fail "vtapctl query 1 failed: $reply"
[[ $reply == "query 1 -> 0x0 len=8 "* ]] || fail "vtapctl query 1 said: $reply"
echo "$reply"

# The sample, built from the installed -dev files alone: with CMake at the compiler's own default
# standard (g++ 12: C++17), which the package's target must raise to the C++23 its headers need;
# then with pkg-config, whose users pass -std=c++23 as its description says.
cp -r /usr/share/doc/norvo-vtap-dev/examples "$work/sample"
cmake -S "$work/sample" -B "$work/sample/build" -G Ninja >/dev/null
cmake --build "$work/sample/build" >/dev/null
# shellcheck disable=SC2046  # the flags are words
g++ -std=c++23 -o "$work/sample-pc" "$work/sample/main.cpp" $(pkg-config --cflags --libs norvo-vtap-client)
sample=$(as_user "$work/sample/build/norvo-vtap-sample") || fail "the sample failed: $sample"
echo "$sample"
grep -q "^service version " <<<"$sample" || fail "the sample did not read the version"

kill -TERM "$daemon_pid"
wait "$daemon_pid" || fail "the service exited with status $?: $(tail -5 "$work/daemon.log")"
daemon_pid=""
rm -rf /run/norvo-vtap  # systemd empties RuntimeDirectory= when the service stops

DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq norvo-vtap norvo-vtap-dev >/dev/null
[[ ! -e /usr/bin/norvo-vtapd && -e /etc/default/norvo-vtap ]] ||
    fail "remove should take the programs and keep the conffile"
# norvo-vtap-dev has no conffiles: removed, it is gone already.
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq norvo-vtap >/dev/null
left=$(comm -13 <(echo "$before") <(ours))
[[ -z $left ]] || fail "left behind after purge: $left"
echo "deb-round-trip: installed, ran, removed and purged; nothing left behind"
