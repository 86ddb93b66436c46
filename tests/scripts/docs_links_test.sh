#!/usr/bin/env bash
# Every relative link of the documents (README.md, docs/*.md, sim/README.md) leads to a file or
# folder of the tree, and a link to a heading (#name, or FILE.md#name) to a heading that is
# there, named as GitHub names it. Web links are not followed: the tests stay off the network.
#   docs_links_test.sh SOURCE_DIR
set -euo pipefail
cd "$1"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# The anchors of a Markdown file's headings: lower case, punctuation dropped, spaces as '-'.
anchors() {
    awk '/^ *```/ { fenced = !fenced; next } !fenced && /^#+ / { sub(/^#+ /, ""); print }' "$1" |
        tr '[:upper:]' '[:lower:]' | sed -e 's/[^a-z0-9 _-]//g' -e 's/ /-/g'
}

# The link targets of a Markdown file, one a line, outside its code.
targets() {
    awk '/^ *```/ { fenced = !fenced; next } !fenced' "$1" | sed -e 's/`[^`]*`//g' |
        grep -o '\]([^)]*)' | sed -e 's/^](//' -e 's/)$//' -e 's/ ".*"$//'
}

checked=0
for doc in README.md docs/*.md sim/README.md; do
    folder=$(dirname "$doc")
    while IFS= read -r target; do
        case $target in
            http://* | https://* | mailto:*) continue ;;
        esac
        checked=$((checked + 1))
        file=${target%%#*}
        anchor=
        [[ $target == *#* ]] && anchor=${target#*#}
        path=$doc
        if [ -n "$file" ]; then
            path=$folder/$file
            [ -e "$path" ] || { fail "$doc: $target: no such file"; continue; }
        fi
        if [ -n "$anchor" ]; then
            [[ $path == *.md ]] || { fail "$doc: $target: a heading of a file that is not Markdown"; continue; }
            anchors "$path" | grep -qx -- "$anchor" || fail "$doc: $target: no such heading in $path"
        fi
    done < <(targets "$doc")
done
[ "$checked" -gt 20 ] || fail "only $checked links found: the documents' links were not read"
[ "$failures" -eq 0 ] || exit 1
echo "docs links: $checked links lead where they say"
