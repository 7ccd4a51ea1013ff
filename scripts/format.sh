#!/usr/bin/env bash
# Formats the tracked C and C++ sources with clang-format-19 and the tree's .clang-format.
# `format.sh --check` changes nothing: it names each file that would change and fails if any would.
set -euo pipefail
cd "$(dirname "$0")/.."

case ${1:-} in
    --check) check=1 ;;
    "") check=0 ;;
    *) echo "usage: scripts/format.sh [--check]" >&2; exit 2 ;;
esac

mapfile -t files < <(git ls-files -- '*.c' '*.cc' '*.cpp' '*.h' '*.hpp')
if ((!check)); then
    clang-format-19 -i "${files[@]}"
    exit 0
fi
if report=$(clang-format-19 --dry-run -Werror --ferror-limit=1 "${files[@]}" 2>&1); then
    exit 0
fi
drifting=$(grep -E ': error: code should be clang-formatted' <<<"$report" | cut -d: -f1 | sort -u)
[[ -n $drifting ]] || { echo "$report" >&2; exit 1; }  # clang-format failed for another reason
while read -r f; do echo "needs formatting: $f"; done <<<"$drifting"
echo "$(wc -l <<<"$drifting") of ${#files[@]} files need formatting: run scripts/format.sh" >&2
exit 1
