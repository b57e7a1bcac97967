#!/usr/bin/env bash
# The tool's main job on a machine without a Mac: one delivery of a secret into the simulated
# Chrome of tests/scenarios/realistic-chrome.json. Installs what is missing, builds the harness,
# sends the request frame and the secret frame, and shows the two result lines, the exit status
# and the journal's record of what was written into the page.
set -euo pipefail
cd "$(dirname "$0")/.."
say() { printf '%s\n' "$*" >&2; }

say "== 1. Installing missing build packages (Debian: apt-get; macOS: Homebrew); nothing to do when all are there"
scripts/install-dependencies.sh
say "== 2. Building the simulated harness chrome-private-input-sim (the first time takes about two minutes)"
cmake --preset default >/dev/null
cmake --build --preset default --target chrome-private-input-sim -j "$(nproc 2>/dev/null || sysctl -n hw.ncpu)" >/dev/null
sim=build/default/main/platform/simulated/chrome-private-input-sim
journal=$(mktemp)
output=$(mktemp)
trap 'rm -f "$journal" "$output"' EXIT

request='{"profileName":"Work","allowedOrigins":["https://accounts.example.com"],"windowNumber":4101}'
secret='correct horse battery staple'
say "== 3. One delivery into the simulated Chrome of tests/scenarios/realistic-chrome.json"
say "   request frame: $request"
say "   secret frame:  (the demo's secret, $(printf '%s' "$secret" | wc -c | tr -d ' ') bytes; the tool never prints it)"
say "   command:       scripts/frame.sh REQUEST SECRET | $sim --scenario tests/scenarios/realistic-chrome.json --journal JOURNAL --"
say "   (everything after \"--\" is the tool's own command line: none, so the mode is the delivery;"
say "   both frames go at once for brevity: the tool reads the secret only after its interim line,"
say "   and an agent should send it only then, as the client libraries do)"
status=0
scripts/frame.sh "$request" "$secret" |
    "$sim" --scenario tests/scenarios/realistic-chrome.json --journal "$journal" -- >"$output" || status=$?
line=0
while IFS= read -r text; do
    line=$((line + 1))
    case $line in
    1) label="interim line" ;;
    2) label="final line" ;;
    *) label="line $line" ;;
    esac
    printf '   %-13s %s\n' "$label:" "$text" >&2
done <"$output"
say "   (the interim line says the target is confirmed; the final line says whether the secret was typed)"
say "   exit status:  $status (0: typed; 1: refused or unusable input; 2: command line not recognised)"
say "== 4. The journal line below is what the simulated page received: the \"set\" of the focused field's AXValue"
grep '"set"' "$journal" >&2 || say "   (nothing was written into the page)"
exit "$status"
