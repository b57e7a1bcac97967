#!/usr/bin/env bash
# Tests the macOS executable against Google Chrome on this Mac: installs what is missing (the
# Homebrew formulae of the build, Google Chrome), builds the production executable with the release
# preset, signs it (ad hoc unless CPI_SIGN_IDENTITY names a certificate), and runs
# tests/live/live_chromium.py: Chrome with a throwaway profile named "Work" on the local https pages,
# the seven modes with the same checks as on Linux, and a stop during a delivery. Prints the
# summary; exits non-zero when a check failed. Quit Google Chrome first: the tool takes the running
# Chrome by its bundle identifier.
#
# Usage: scripts/test-live-macos.sh [--grant-accessibility] [--keep | --demo]
#   --grant-accessibility  write an Accessibility grant for the executable's path into the system
#                          privacy database first (sudo; only where System Integrity Protection is
#                          off, as on GitHub's macOS runners). Elsewhere grant it by hand: README,
#                          "Granting Accessibility" (the terminal that runs this script).
#   --keep, --demo         as for scripts/test-live.sh
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ "$(uname -s)" != "Darwin" ]]; then
    echo "This live test needs macOS and Google Chrome (on Linux: scripts/test-live.sh)" >&2
    exit 2
fi

grant=0
arguments=()
for argument in "$@"; do
    if [[ $argument == --grant-accessibility ]]; then
        grant=1
    else
        arguments+=("$argument")
    fi
done

scripts/install-dependencies.sh
chrome=${CPI_CHROME:-"/Applications/Google Chrome.app/Contents/MacOS/Google Chrome"}
if [[ ! -x $chrome ]]; then
    echo "Installing: Google Chrome (Homebrew cask google-chrome)" >&2
    brew install --cask google-chrome
fi

echo "== building chrome-private-input (release preset)" >&2
cmake --preset release >/dev/null
cmake --build --preset release --target chrome-private-input -j "$(sysctl -n hw.ncpu)" >/dev/null
tool="$PWD/build/release/main/platform/macos/chrome-private-input"
# The build sets macOS 13.5 as the oldest system the executable starts on.
minimum=$(otool -l "$tool" | awk '/LC_BUILD_VERSION/ {found = 1} found && $1 == "minos" {print $2; exit}')
if [[ $minimum != 13.5 ]]; then
    echo "The executable's minimum macOS is '${minimum:-unknown}', not 13.5" >&2
    exit 1
fi
scripts/sign-macos.sh "$tool"

if ((grant)); then
    # A path-based grant (client_type 1) names the executable; an ad-hoc signature changes with each
    # build, so the grant is written again after every one (the driver stores the signature's
    # designated requirement with it).
    if csrutil status 2>/dev/null | grep -q "enabled"; then
        echo "System Integrity Protection is on: the privacy database is read-only; grant Accessibility by hand" >&2
        exit 1
    fi
    sudo python3 tests/live/live_chromium.py --grant-accessibility "$tool"
fi
# macOS judges the trust of the responsible process: the terminal (or the CI runner's agent) that
# started this script, or the tool itself when nothing else is responsible for it.
trust=$("$tool" --trust-check)
if [[ $trust != '{"trusted":true}' ]]; then
    echo "The tool is not trusted for Accessibility ($trust): add the application that runs this script in" \
         "System Settings > Privacy & Security > Accessibility, or pass --grant-accessibility where SIP is off" >&2
    exit 1
fi

echo "== live test against Google Chrome" >&2
python3 tests/live/live_chromium.py --tool "$tool" --chrome "$chrome" ${arguments[@]+"${arguments[@]}"}
