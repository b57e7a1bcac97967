#!/usr/bin/env bash
# Builds and runs every test: installs what is missing, configures, builds, runs ctest.
# Usage: scripts/test.sh [PRESET ...]   (default: the "default" preset)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh
presets=("$@")
((${#presets[@]})) || presets=(default)
jobs=$(nproc 2>/dev/null || sysctl -n hw.ncpu)
for preset in "${presets[@]}"; do
    echo "== preset $preset" >&2
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs"
done
