#!/usr/bin/env bash
# The IIO tap sensor on a real kernel: builds the test accelerometer (module/) against the
# installed Debian kernel headers, boots that kernel under QEMU with an initramfs of busybox,
# udevd, the daemon, vtapctl, vtap-sensor and traces made by vtap-trace-gen, and runs
# guest-init.sh's checks in it.
#   run-vm-test.sh WORK_DIR NORVO_VTAPD VTAPCTL UDEV_RULE VTAP_SENSOR VTAP_TRACE_GEN
# WORK_DIR holds what is built; the kernel package is kept in NORVO_KERNEL_CACHE (by default
# build/kernel-cache). Exit status 77 (CTest's skip) when the VM cannot run here, with the reason.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$1 daemon=$2 vtapctl=$3 rule=$4 sensor_tool=$5 trace_gen=$6
cache=${NORVO_KERNEL_CACHE:-$here/../../build/kernel-cache}

skip() {
    echo "SKIPPED: $*"
    exit 77
}

command -v qemu-system-x86_64 >/dev/null || skip "no qemu-system-x86_64 (Debian package qemu-system-x86)"
[[ -x /bin/busybox && $(ldd /bin/busybox 2>&1) == *"not a dynamic"* ]] ||
    skip "no static busybox (Debian package busybox-static)"
command -v cpio >/dev/null || skip "no cpio"
command -v udevadm >/dev/null || skip "no udevadm (Debian package udev)"
# The newest headers of Debian's amd64 kernel; the image must be the same build.
headers=$(ls -d /usr/src/linux-headers-*-amd64 2>/dev/null | sort -V | tail -n 1)
[[ -n $headers ]] || skip "no kernel headers (Debian package linux-headers-amd64)"
release=${headers#/usr/src/linux-headers-}
version=$(dpkg-query -W -f '${Version}' "linux-headers-$release")
image=linux-image-$release
deb=$cache/${image}_${version}_amd64.deb
if [[ ! -f $deb ]]; then
    mkdir -p "$cache"
    (cd "$cache" && apt-get download -q "$image=$version") >/dev/null 2>&1 ||
        skip "cannot download $image $version"
fi

rm -rf "$work/image" "$work/root"
mkdir -p "$work/image" "$work/root"
iio=lib/modules/$release/kernel/drivers/iio
dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$work/image" "./boot/vmlinuz-$release" \
    "./$iio/industrialio.ko" "./$iio/buffer/kfifo_buf.ko"

# Kbuild writes beside the sources: build a copy.
mkdir -p "$work/module"
cp "$here"/module/* "$work/module/"
make -s -C "$headers" M="$work/module" modules >"$work/module.log" 2>&1 || {
    cat "$work/module.log"
    exit 1
}

root=$work/root
mkdir -p "$root"/{bin,etc,lib/udev/rules.d,lib/systemd,modules,proc,sys,dev,run,tmp}
cp /bin/busybox "$root/bin/"
for applet in $(/bin/busybox --list); do
    [[ $applet == busybox ]] || ln -s busybox "$root/bin/$applet"
done
# The programs with every library they load.
for program in "$daemon" "$vtapctl" "$sensor_tool" "$(command -v udevadm)"; do
    cp "$program" "$root/bin/"
    strip "$root/bin/$(basename "$program")"
    ldd "$program" | grep -o '/[^ ]*' | while read -r library; do
        mkdir -p "$root$(dirname "$library")"
        cp -L "$library" "$root$library"
    done
done
ln -s /bin/udevadm "$root/lib/systemd/systemd-udevd"
cp "$rule" "$root/lib/udev/rules.d/"
cp "$work/image/$iio/industrialio.ko" "$work/image/$iio/buffer/kfifo_buf.ko" \
    "$work/module/norvo_vtap_accel.ko" "$root/modules/"
# What the sample accelerometer plays: generated traces in its raw steps of 1 mg, and how many
# taps each holds.
mkdir -p "$root/traces"
"$trace_gen" --kind taps-rest --rate 100 --seconds 16 --seed 11 -o "$work/taps.csv"
"$trace_gen" --kind typing --rate 100 --seconds 12 --seed 1 -o "$work/typing.csv"
for trace in taps typing; do
    awk -F, '/^[0-9-]/ { for (i = 2; i <= 4; i++) printf "%d%s", ($i / 0.00980665) + ($i < 0 ? -0.5 : 0.5), (i < 4 ? " " : "\n") }' \
        "$work/$trace.csv" >"$root/traces/$trace.txt"
    grep -c '^# tap=' "$work/$trace.csv" >"$root/traces/$trace.count" || true
done
printf 'root:x:0:0:root:/:/bin/sh\nnorvo-vtap:x:999:999::/nonexistent:/bin/false\n' >"$root/etc/passwd"
printf 'root:x:0:\nnorvo-vtap:x:999:\n' >"$root/etc/group"
cp "$here/guest-init.sh" "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet) | gzip -1 >"$work/initramfs.gz"

# KVM where it works; the software emulation is fast enough otherwise.
accel=(-accel tcg)
[[ -r /dev/kvm && -w /dev/kvm ]] && accel=(-accel kvm -cpu host)
echo "booting $image $version (${accel[1]})"
timeout 600 qemu-system-x86_64 "${accel[@]}" -m 512 -smp 1 -nographic -no-reboot \
    -kernel "$work/image/boot/vmlinuz-$release" -initrd "$work/initramfs.gz" \
    -append "console=ttyS0 quiet panic=-1" </dev/null | tee "$work/console.log" | tr -d '\r'
tr -d '\r' <"$work/console.log" | grep '^FIGURE' >"$work/figures.txt" || true
grep -q "^VM RESULT: PASS" <(tr -d '\r' <"$work/console.log")
