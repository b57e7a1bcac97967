#!/usr/bin/env bash
# Runs every libFuzzer target for a while (default 60 seconds each) from its seed corpus and prints,
# per target, the executions run and the findings. Exits non-zero when any target found something;
# the crashing inputs are kept under build/fuzz/findings/<target>/.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET ...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
((${#targets[@]})) || targets=(fuzz_frames fuzz_modes fuzz_origins fuzz_keyruns fuzz_labels fuzz_scenario)
scripts/install-dependencies.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc 2>/dev/null || echo 2)" --target "${targets[@]}"

status=0
printf '%-14s %10s %8s %s\n' target executions findings seconds
for target in "${targets[@]}"; do
    name=${target#fuzz_}
    work=build/fuzz/runs/$name
    findings=build/fuzz/findings/$name
    rm -rf "$work" && mkdir -p "$work" "$findings"
    # A working copy of the seeds, so that what the run learns stays out of the repository.
    cp -r "tests/fuzz/corpus/$name/." "$work/"
    log=build/fuzz/$name.log
    set +e
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        "build/fuzz/tests/fuzz/$target" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=4096 \
        -max_len=131072 -print_final_stats=1 -artifact_prefix="$findings/" "$work" >"$log" 2>&1
    result=$?
    set -e
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    found=$(find "$findings" -type f | wc -l)
    printf '%-14s %10s %8s %s\n' "$name" "${executions:-?}" "$found" "$seconds"
    if ((result != 0 || found != 0)); then
        status=1
        echo "--- $target failed (exit $result); the end of its log ($log):" >&2
        tail -40 "$log" >&2
    fi
done
exit $status
