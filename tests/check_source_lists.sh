#!/usr/bin/env bash
# CMakeLists.txt lists its sources by hand; a .cpp file it does not name would
# never be built (a test file never run). Checks that it names every one.
# Usage: check_source_lists.sh [source directory]
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

missing=0
while IFS= read -r file; do
    file=${file#./}
    # Test files are listed inside K350_TEST_FILES by their path below tests/.
    if [[ $file == tests/*_test.cpp ]]; then
        name=${file#tests/}
        grep -qE "^[[:space:]]+$name\$" CMakeLists.txt && continue
    else
        grep -qE "(^|[[:space:](])$file([[:space:])]|\$)" CMakeLists.txt && continue
    fi
    echo "$file is not named in CMakeLists.txt"
    missing=1
done < <(find . -name '*.cpp' -not -path './build*' -not -path './.git/*' | sort)

[ "$missing" -eq 0 ] && echo "CMakeLists.txt names every source file"
exit "$missing"
