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
        required=(norvo-vtap.exe vtapctl.exe norvo-vtap-service.cmd norvo_vtap.idl norvo_vtap.acf README.txt)
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
((missing == 0)) && echo "$file: holds ${required[*]}"
exit "$missing"
