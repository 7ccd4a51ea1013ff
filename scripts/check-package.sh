#!/usr/bin/env bash
# Fails unless a package holds every file it must: `check-package.sh deb|zip FILE`.
set -euo pipefail

kind=$1 file=$2
case $kind in
    deb)
        listing=$(dpkg-deb -c "$file" | awk '{print $NF}' | sed 's|^\./||')
        required=(usr/bin/norvo-vtapd usr/bin/vtapctl usr/bin/vtap-sensor
                  usr/lib/systemd/system/norvo-vtap.service)
        # The daemon links libfmt: a Depends without it would install a daemon that cannot start.
        depends=$(dpkg-deb -f "$file" Depends)
        [[ $depends == *libc6* && $depends == *libfmt* ]] ||
            { echo "$file: Depends lacks libc6 or libfmt: '$depends'" >&2; exit 1; }
        ;;
    zip)
        listing=$(unzip -Z1 "$file")
        required=(norvo-vtap.exe vtapctl.exe norvo-vtap-service.cmd norvo_vtap.idl norvo_vtap.acf README.txt
                  sdk/include/norvo/windows/rpc/norvo_vtap_client.h sdk/include/norvo/windows/rpc/rpc_guard.h
                  sdk/lib/libnorvo_vtap_client.a sdk/sample_client.c)
        ;;
    *) echo "usage: scripts/check-package.sh deb|zip FILE" >&2; exit 2 ;;
esac

missing=0
for path in "${required[@]}"; do
    if ! grep -qxF "$path" <<<"$listing"; then
        echo "$file: missing $path" >&2
        missing=1
    fi
done
((missing == 0)) || exit 1
echo "$file: holds ${required[*]}"

if [[ $kind == zip ]]; then
    # The client kit alone builds the sample, with README.txt's command line.
    unpacked=$(mktemp -d)
    trap 'rm -rf "$unpacked"' EXIT
    unzip -q "$file" -d "$unpacked"
    build=$(sed -n 's/^ *\(x86_64-w64-mingw32-gcc .*\)$/\1/p' "$unpacked/README.txt")
    [[ -n $build ]] || { echo "$file: README.txt names no build command for the sample" >&2; exit 1; }
    (cd "$unpacked" && $build -Werror && test -f sample_client.exe) ||
        { echo "$file: the sample does not build from the kit alone: $build" >&2; exit 1; }
    echo "$file: the sample builds from the kit alone"
fi
