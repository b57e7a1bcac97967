#!/usr/bin/env bash
# Runs every benchmark of a build once, briefly, so that none can rot unseen: each must exist, exit
# with status 0 and report no error. The live benchmark (bench/linux) needs a running Chromium and
# is left to scripts/test-live.sh --bench.
# Usage: scripts/bench-smoke.sh [BUILD_DIR]   (default: build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
status=0
for folder in bench/*/; do
    folder=${folder%/}
    [[ -f $folder/CMakeLists.txt ]] || continue
    for name in $(sed -n 's/^ *add_executable(\([A-Za-z0-9_]*\).*/\1/p' "$folder/CMakeLists.txt"); do
        [[ $name == linux_live_bench ]] && continue
        program="$build/$folder/$name"
        if [[ ! -x $program ]]; then
            echo "FAIL $name: $program was not built" >&2
            status=1
            continue
        fi
        echo "== $name" >&2
        output=$("$program" --benchmark_min_time=0.01 --benchmark_repetitions=1 2>&1) && code=0 || code=$?
        printf '%s\n' "$output"
        # A benchmark that stops itself (SkipWithError) still exits with 0.
        if ((code != 0)) || grep -q "ERROR OCCURRED" <<<"$output"; then
            echo "FAIL $name: exit status $code$(grep -m1 'ERROR OCCURRED' <<<"$output" | sed 's/^/, /')" >&2
            status=1
        fi
    done
done
exit $status
