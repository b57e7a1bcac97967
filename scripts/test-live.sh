#!/usr/bin/env bash
# Tests the Linux executable against a real Chromium: installs what is missing (Chromium, Xvfb,
# openbox, the accessibility bus, the X tools, and the build's packages),
# builds the tool with the default preset and runs tests/live/live_chromium.py twice, under openbox
# and without a window manager. Prints both summaries; exits non-zero when either run failed.
# Usage: scripts/test-live.sh [--keep | --demo]
#   --keep  leave each environment running after its checks
#   --demo  one run, under openbox, that makes one delivery by hand instead of the checks
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ "$(uname -s)" != "Linux" ]]; then
    echo "The live test needs Linux (Xvfb, the accessibility bus and Chromium)" >&2
    exit 2
fi

scripts/install-dependencies.sh live
sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"

echo "== building chrome-private-input (default preset)" >&2
cmake --preset default >/dev/null
cmake --build --preset default --target chrome-private-input -j "$(nproc)" >/dev/null
tool="$PWD/build/default/main/platform/linux/chrome-private-input"
if [[ ! -x $tool ]]; then
    echo "The build did not produce $tool" >&2
    exit 1
fi

# The driver needs root for port 443 and for its own network namespace; without root it uses the
# machine's loopback, where port 443 must be free and binding it allowed.
run=(python3 tests/live/live_chromium.py --tool "$tool")
if [[ $(id -u) -ne 0 && -n $sudo ]]; then
    run=(sudo "${run[@]}")
fi
status=0
summaries=()
window_managers=(openbox none)
[[ " $* " == *" --demo "* ]] && window_managers=(openbox)
for window_manager in "${window_managers[@]}"; do
    echo "== live test against Chromium, window manager: $window_manager" >&2
    log=$(mktemp)
    if "${run[@]}" --window-manager "$window_manager" "$@" | tee "$log"; then
        :
    else
        status=1
    fi
    summaries+=("$window_manager: $(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$log" | tail -n 1 || echo 'no summary')")
    rm -f "$log"
done
echo "== summaries" >&2
printf '%s\n' "${summaries[@]}"
exit $status
