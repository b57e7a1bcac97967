#!/usr/bin/env bash
# The main job on Linux, against a real Chromium: installs what is missing, builds the tool, starts
# a private desktop (Xvfb, a session bus with the accessibility bus, openbox, an https page on
# localhost, Chromium with a profile named "Work"), delivers a secret into the page's focused
# password field by hand (frames in, lines out), shows both lines and what the page received, and
# stops everything it started.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/test-live.sh --demo
