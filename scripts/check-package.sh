#!/usr/bin/env bash
# Fails unless a package holds every file it must: `check-package.sh deb|deb-dev|zip FILE`.
# The .debs must also pass lintian without an error or a warning, and so must the source package
# of a checkout's tracked files, edits included: `check-package.sh source CHECKOUT`.
set -euo pipefail

kind=$1 file=$2
if [[ $kind == source ]]; then
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    tree=$work/norvo-vtap-$(dpkg-parsechangelog -l "$file/debian/changelog" -S Version)
    mkdir "$tree"
    (cd "$file" && git ls-files -z | tar --null -T - -cf -) | tar -x -C "$tree"
    (cd "$work" && dpkg-source -b "$(basename "$tree")" >/dev/null)
    lintian --fail-on error,warning "$work"/*.dsc
    echo "$file: the source package passes lintian"
    exit 0
fi
case $kind in
    deb)
        listing=$(dpkg-deb -c "$file" | awk '{print $NF}' | sed 's|^\./||')
        required=(usr/bin/norvo-vtapd usr/bin/vtapctl usr/bin/vtap-sensor usr/bin/vtap-detect
                  lib/systemd/system/norvo-vtap.service usr/lib/sysusers.d/norvo-vtap.conf
                  etc/default/norvo-vtap usr/share/man/man8/norvo-vtapd.8.gz
                  usr/share/man/man1/vtapctl.1.gz usr/share/man/man1/vtap-sensor.1.gz
                  usr/share/man/man1/vtap-detect.1.gz
                  usr/share/doc/norvo-vtap/copyright usr/share/doc/norvo-vtap/README.md
                  usr/share/doc/norvo-vtap/docs/protocol.md)
        # The daemon links libfmt: a Depends without it would install a daemon that cannot start.
        depends=$(dpkg-deb -f "$file" Depends)
        [[ $depends == *libc6* && $depends == *libfmt* ]] ||
            { echo "$file: Depends lacks libc6 or libfmt: '$depends'" >&2; exit 1; }
        ;;
    deb-dev)
        listing=$(dpkg-deb -c "$file" | awk '{print $NF}' | sed 's|^\./||')
        lib=usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
        required=(usr/include/norvo/client/connection.hpp usr/include/norvo/wire/codec.hpp
                  usr/include/norvo/posix/unique_fd.hpp "$lib"/libnorvo_client.a
                  "$lib"/libnorvo_wire.a "$lib"/libnorvo_posix.a
                  "$lib"/cmake/NorvoVTapClient/NorvoVTapClientConfig.cmake
                  "$lib"/pkgconfig/norvo-vtap-client.pc
                  usr/share/doc/norvo-vtap-dev/examples/main.cpp)
        ;;
    zip)
        # One folder, named as the zip, holds everything.
        top=$(basename "$file" .zip)
        listing=$(unzip -Z1 "$file")
        outside=$(grep -v "^$top/" <<<"$listing" || true)
        [[ -z $outside ]] || { echo "$file: outside its folder $top/: $outside" >&2; exit 1; }
        listing=$(sed "s|^$top/||" <<<"$listing")
        required=(norvo-vtap.exe vtapctl.exe norvo-vtap-service.cmd norvo_vtap.idl norvo_vtap.acf README.txt
                  sdk/include/norvo/windows/rpc/norvo_vtap_client.h sdk/include/norvo/windows/rpc/rpc_guard.h
                  sdk/lib/libnorvo_vtap_client.a sdk/sample_client.c)
        ;;
    *) echo "usage: scripts/check-package.sh deb|deb-dev|zip FILE | source CHECKOUT" >&2; exit 2 ;;
esac

missing=0
for path in "${required[@]}"; do
    if ! grep -qxF "$path" <<<"$listing"; then
        echo "$file: missing $path" >&2
        missing=1
    fi
done
if [[ $kind == deb* ]]; then
    # The package's version is the project's: debian/changelog must follow CMakeLists.txt.
    project=$(sed -n 's/^project(norvo_vtap VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../CMakeLists.txt")
    version=$(dpkg-deb -f "$file" Version)
    [[ $version == "$project" ]] || { echo "$file: version $version, project $project" >&2; missing=1; }
    lintian --fail-on error,warning "$file" || missing=1
fi
if [[ $kind == deb ]]; then
    # dpkg-buildflags' hardening reached the programs: PIE, stack protector, FORTIFY, RELRO, BIND_NOW
    # (Debian 12's flags have no -fcf-protection, so that one is not asked for).
    unpacked=$(mktemp -d)
    trap 'rm -rf "$unpacked"' EXIT
    dpkg-deb -x "$file" "$unpacked"
    hardening-check --quiet --nocfprotection "$unpacked"/usr/bin/* || missing=1
    # Every relative link of the installed README and docs names a file installed beside it.
    while IFS= read -r page; do
        while IFS= read -r target; do
            [[ -e $(dirname "$page")/$target ]] ||
                { echo "$file: ${page#"$unpacked"/} links $target, which is not installed" >&2; missing=1; }
        done < <(grep -o '](\([^)#]*\)' "$page" | sed 's/^](//' | grep -v -e '^$' -e '://' || true)
    done < <(find "$unpacked/usr/share/doc/norvo-vtap" -name '*.md')
fi
((missing == 0)) || exit 1
echo "$file: holds ${required[*]}"

if [[ $kind == zip ]]; then
    # The client kit alone builds the sample, with README.txt's command line.
    unpacked=$(mktemp -d)
    trap 'rm -rf "$unpacked"' EXIT
    unzip -q "$file" -d "$unpacked"
    kit=$unpacked/$top
    # Read on Windows: CRLF line endings.
    for text in README.txt norvo-vtap-service.cmd; do
        ! grep -qv $'\r$' "$kit/$text" ||
            { echo "$file: $text has lines without CRLF" >&2; exit 1; }
    done
    build=$(tr -d '\r' <"$kit/README.txt" | sed -n 's/^ *\(x86_64-w64-mingw32-gcc .*\)$/\1/p')
    [[ -n $build ]] || { echo "$file: README.txt names no build command for the sample" >&2; exit 1; }
    (cd "$kit" && $build -Werror && test -f sample_client.exe) ||
        { echo "$file: the sample does not build from the kit alone: $build" >&2; exit 1; }
    echo "$file: the sample builds from the kit alone"
fi
