#!/usr/bin/env bash
# check_floors.sh against a copy of the production folders: it passes on the
# copy as it stands and fails once an upward include is planted in a
# sub-folder (cli/station/) or in usb/, naming the file that did it.
#   floors_check_test.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
copy=$(mktemp -d)
trap 'rm -rf "$copy"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

fresh_copy() {
    rm -rf "${copy:?}"/*
    for folder in config link usb sim ui transfer editors monitor shell cli; do
        cp -r "$source_dir/$folder" "$copy/"
    done
}

expect_refused() {  # planted file, planted line
    printf '%s\n' "$2" >>"$copy/$1"
    if bash "$source_dir/tests/check_floors.sh" "$copy" >"$copy/out" 2>&1; then
        fail "an include planted in $1 passed: $(cat "$copy/out")"
    fi
    grep -q "$1" "$copy/out" || fail "the refusal does not name $1: $(cat "$copy/out")"
}

fresh_copy
bash "$source_dir/tests/check_floors.sh" "$copy" >/dev/null || fail "the unchanged copy is refused"

fresh_copy
expect_refused cli/station/Station.h '#include "monitor/TraceForm.h"'
fresh_copy
expect_refused cli/store/RunStore.h '#include "ui/TaskWindow.h"'
fresh_copy
expect_refused usb/UsbDeviceList.h '#include "link/K350Task.h"'
fresh_copy
expect_refused cli/station/Station.cpp '#include <QString>'
echo "floors check refuses planted includes in sub-folders and usb/"
