#!/usr/bin/env bash
# check_floors.sh against a copy of the production folders: it passes on the
# copy as it stands and fails once an upward include is planted in a floor of
# the line (store/, station/, report/, serve/) or in usb/, or the command parser outside
# cli/, naming the file that did it.
#   floors_check_test.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
copy=$(mktemp -d)
trap 'rm -rf "$copy"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

fresh_copy() {
    rm -rf "${copy:?}"/*
    for folder in config link usb sim ui transfer editors monitor shell store station report serve cli; do
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
expect_refused station/Station.h '#include "monitor/TraceForm.h"'
fresh_copy
expect_refused store/RunStore.h '#include "ui/TaskWindow.h"'
fresh_copy
expect_refused usb/UsbDeviceList.h '#include "link/K350Task.h"'
fresh_copy
expect_refused station/Station.cpp '#include <QString>'
fresh_copy
expect_refused station/StationSequence.cpp '#include "cli/Console.h"'
fresh_copy
expect_refused store/RunJournal.cpp '#include "station/StationJob.h"'
fresh_copy
expect_refused store/ReportQueries.h '#include "report/LineReport.h"'
fresh_copy
expect_refused store/SqlRunStore.cpp '#include "link/BoardLink.h"'
fresh_copy
expect_refused report/LineReport.cpp '#include "station/Station.h"'
fresh_copy
expect_refused report/HistoryReport.cpp '#include <CLI/CLI.hpp>'
fresh_copy
expect_refused station/StationRecipe.cpp '#include <CLI/CLI.hpp>'
fresh_copy
expect_refused serve/LineServer.cpp '#include "station/Station.h"'
fresh_copy
expect_refused serve/LiveFeed.cpp '#include "link/BoardLink.h"'
fresh_copy
expect_refused serve/HttpServer.cpp '#include <CLI/CLI.hpp>'
fresh_copy
expect_refused serve/LivePage.cpp '#include <QString>'
echo "floors check refuses planted includes in the line's floors and usb/, and CLI11 outside cli/"
