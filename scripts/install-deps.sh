#!/usr/bin/env bash
# Installs the Debian packages the build and tests need, when missing.
# `install-deps.sh linux` leaves out the Windows cross-compiler and Wine.
set -euo pipefail

packages=(cmake ninja-build g++ libfmt-dev libgtest-dev libgmock-dev libbenchmark-dev python3
          clang-19 libclang-rt-19-dev clang-format-19 libsystemd-dev pkg-config dpkg-dev unzip
          debhelper scdoc systemd lintian devscripts
          linux-headers-amd64 qemu-system-x86 busybox-static cpio udev)
[[ ${1:-} == linux ]] || packages+=(g++-mingw-w64-x86-64-posix mingw-w64-tools clang wine wine64)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "installing: ${missing[*]}"
    sudo_cmd=()
    [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi
