#!/usr/bin/env bash
# The tool's main job on a machine without a Mac: one delivery of a secret into the simulated
# Chrome of tests/scenarios/realistic-chrome.json. Installs what is missing, builds the harness,
# sends the request frame and the secret frame, and shows the two result lines and the journal's
# record of what was written into the page.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh
cmake --preset default >/dev/null
cmake --build --preset default --target chrome-private-input-sim -j "$(nproc 2>/dev/null || sysctl -n hw.ncpu)" >/dev/null
journal=$(mktemp)
trap 'rm -f "$journal"' EXIT
request='{"profileName":"Work","allowedOrigins":["https://accounts.example.com"],"windowNumber":4101}'
echo "request: $request" >&2
echo "result lines:" >&2
scripts/frame.sh "$request" 'correct horse battery staple' |
    build/default/main/platform/simulated/chrome-private-input-sim \
        --scenario tests/scenarios/realistic-chrome.json --journal "$journal" --
echo "journal (what the simulated Chrome saw written):" >&2
grep '"set"' "$journal" >&2 || true
