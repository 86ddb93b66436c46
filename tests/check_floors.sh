#!/usr/bin/env bash
# Checks the floors of the production code from its #include lines, in every
# file of a production folder and its sub-folders: the folder graph has no
# circle, each folder includes only its own floor and those below it, and the
# floors without Qt (config/, link/, store/, station/, report/, serve/, cli/, usb/, sim/) include none;
# CLI11, the command parser, is included in cli/ alone.
# Usage: check_floors.sh [source directory]
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

# What each production folder may include besides itself.
declare -A may_include=(
    [config]=""
    [usb]=""
    [link]="config"
    [sim]="link config"
    [store]="config"
    [station]="store link config"
    [report]="store config"
    [serve]="report store config"
    [cli]="station report serve store link config"
    [ui]="link config"
    [transfer]="ui link config"
    [editors]="ui link config"
    [monitor]="ui link config"
    [shell]="transfer editors monitor ui link config"
)

failed=0
edges=$(mktemp)
trap 'rm -f "$edges"' EXIT

for folder in "${!may_include[@]}"; do
    [ -d "$folder" ] || continue
    while IFS=: read -r file target; do
        to=${target%%/*}
        [ "$to" = "$folder" ] && continue
        echo "$folder $to" >>"$edges"
        if [[ " ${may_include[$folder]} " != *" $to "* ]]; then
            echo "$file includes $target: $folder/ may include only ${may_include[$folder]:-itself}"
            failed=1
        fi
    done < <(grep -rHoE --include='*.cpp' --include='*.h' '^#include "[^"]+/[^"]+"' "$folder" |
        sed -E 's/:#include "/:/; s/"$//')
done

# A folder not in the table above still may not close a circle.
while IFS=: read -r file target; do
    from=${file%%/*}
    to=${target%%/*}
    [ "$to" != "$from" ] && echo "$from $to" >>"$edges"
done < <(grep -rHoE --include='*.cpp' --include='*.h' --exclude-dir='.*' --exclude-dir='build*' \
    --exclude-dir=tests --exclude-dir=bench --exclude-dir=tools '^#include "[^"]+/[^"]+"' . |
    sed -E 's|^\./||; s/:#include "/:/; s/"$//')

if ! sort -u "$edges" | tsort >/dev/null 2>"$edges.loop"; then
    echo "the folders include each other in a circle:"
    cat "$edges.loop"
    failed=1
fi
rm -f "$edges.loop"

qt_free=(config link store station report serve cli usb sim)
if grep -rnE '^#include <Q' "${qt_free[@]}" 2>/dev/null; then
    echo "${qt_free[*]/%//} stay free of Qt"
    failed=1
fi

# The command parser is the command line's own: a server or a station never links it.
parser_free=()
for folder in "${!may_include[@]}"; do [ "$folder" != cli ] && [ -d "$folder" ] && parser_free+=("$folder"); done
if grep -rnE --include='*.cpp' --include='*.h' '^#include <CLI/' "${parser_free[@]}"; then
    echo "CLI11 is included in cli/ only"
    failed=1
fi

[ "$failed" -eq 0 ] && echo "floors hold: $(sort -u "$edges" | wc -l) folder dependencies, no circle"
exit "$failed"
