#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ (clang, AddressSanitizer + UndefinedBehaviorSanitizer) in
# a build folder of their own and runs each for a while, from its seed corpus in fuzz/corpus/.
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
# SECONDS_PER_TARGET defaults to 60; TARGET is a name in fuzz/ (config_file ...), all by default.
# K350_FUZZ_DIR names the build folder (build-fuzz). What a run finds new is kept in
# DIR/corpus/TARGET, a crash or hang as DIR/findings/TARGET-*, and the run's log as
# DIR/logs/TARGET.log. Ends with a line per target (executions, the coverage figures `cov` and
# `ft` of libFuzzer) and fails when a target crashed, hung or broke one of its properties.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
dir=${K350_FUZZ_DIR:-build-fuzz}
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for source in fuzz/*.cpp; do targets+=("$(basename "$source" .cpp)"); done
fi

CC=clang CXX=clang++ scripts/build.sh --quiet --target k350-fuzzers "$dir" \
    -DK350_SANITIZE=address,undefined -DK350_BUILD_FUZZERS=ON -DBUILD_TESTING=OFF \
    -DK350_BUILD_BENCHMARKS=OFF

export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
mkdir -p "$dir/findings" "$dir/logs"
failed=()
summary=()
for target in "${targets[@]}"; do
    corpus=$dir/corpus/$target
    log=$dir/logs/$target.log
    mkdir -p "$corpus"
    echo "Fuzzing $target for $seconds s"
    # New inputs go to the first folder; the seeds in the repository stay as they are.
    # A hang is an input that takes more than 10 s.
    if "$dir/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
            -max_len=4096 -print_final_stats=1 -artifact_prefix="$dir/findings/$target-" \
            "$corpus" "fuzz/corpus/$target" >"$log" 2>&1; then
        status=ok
    else
        status=FAILED
        failed+=("$target")
        tail -n 40 "$log" >&2
    fi
    done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1 || true)
    executions=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+)/\1/p' "$log" | tail -n 1)
    cov=$(sed -nE 's/.* cov: ([0-9]+).*/\1/p' <<<"$done_line")
    ft=$(sed -nE 's/.* ft: ([0-9]+).*/\1/p' <<<"$done_line")
    summary+=("$(printf '%-16s %-6s executions %-10s cov %-6s ft %s' "$target" "$status" \
        "${executions:-?}" "${cov:-?}" "${ft:-?}")")
done
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
    echo "Failed: ${failed[*]}; the inputs are in $dir/findings, the logs in $dir/logs" >&2
    exit 1
fi
