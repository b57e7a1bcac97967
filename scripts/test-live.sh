#!/usr/bin/env bash
# Tests the Linux executable against a real Chromium: installs what is missing (Chromium and its
# translations, Xvfb, openbox, the accessibility bus, the X tools, and the build's packages),
# builds the tool with the default preset and runs tests/live/live_chromium.py three times: every
# check under openbox and without a window manager, and the deliveries with Chromium in German.
# Checks first that the policy's table of the address bar's translated names matches the installed
# Chromium's. Prints the summaries; exits non-zero when any run failed.
# Usage: scripts/test-live.sh [--bench PATH] [--keep | --demo]
#   --bench PATH  also run this live benchmark (linux_live_bench) briefly, in the first run
#   --keep        leave each environment running after its checks
#   --demo        one run, under openbox, that makes one delivery by hand instead of the checks
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ "$(uname -s)" != "Linux" ]]; then
    echo "The live test needs Linux (Xvfb, the accessibility bus and Chromium)" >&2
    exit 2
fi

bench=()
options=()
while (($#)); do
    case $1 in
        --bench) bench=(--bench "$(realpath "$2")"); shift 2 ;;
        *) options+=("$1"); shift ;;
    esac
done

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
echo "== the address bar's translated names against the installed Chromium" >&2
if python3 scripts/address-bar-names.py --check; then
    summaries+=("address bar names: match")
else
    summaries+=("address bar names: differ")
    status=1
fi
# One run per line: its name and its arguments.
runs=("openbox|--window-manager openbox"
      "none|--window-manager none"
      "openbox, German|--window-manager openbox --lang de --only delivery")
[[ " ${options[*]} " == *" --demo "* ]] && runs=("openbox|--window-manager openbox")
for entry in "${runs[@]}"; do
    name=${entry%%|*}
    read -ra arguments <<<"${entry#*|}"
    [[ $name == openbox ]] && arguments+=("${bench[@]}")
    echo "== live test against Chromium, $name" >&2
    log=$(mktemp)
    if "${run[@]}" "${arguments[@]}" "${options[@]}" | tee "$log"; then
        :
    else
        status=1
    fi
    summaries+=("$name: $(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$log" | tail -n 1 || echo 'no summary')")
    rm -f "$log"
done
echo "== summaries" >&2
printf '%s\n' "${summaries[@]}"
exit $status
