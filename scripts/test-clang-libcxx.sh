#!/usr/bin/env bash
# The toolchain of a current Mac on Linux: builds the product's shared code, the simulated harness,
# the tests and the benchmarks with clang 19 and libc++ 19 (warnings as errors), then runs the test
# suite, the macOS type-check with clang 14 and 19 included. Installs what is missing first, and
# builds GoogleTest and Google Benchmark for libc++ once (scripts/build-libcxx-deps.sh).
# Usage: scripts/test-clang-libcxx.sh
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
scripts/install-dependencies.sh clang-libcxx
scripts/build-libcxx-deps.sh
echo "== preset clang-libcxx" >&2
cmake --preset clang-libcxx >/dev/null
cmake --build --preset clang-libcxx -j "$jobs"
ctest --preset clang-libcxx -j "$jobs"
