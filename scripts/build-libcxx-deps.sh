#!/usr/bin/env bash
# Builds GoogleTest and Google Benchmark with clang 19 and libc++ 19 for the "clang-libcxx" preset.
# Debian's libgtest-dev and libbenchmark-dev are built against libstdc++, whose std::string and
# friends are not the ones libc++ code passes across their interfaces, so the tests and benchmarks
# of that preset link copies built from Debian's own sources: GoogleTest from /usr/src/googletest
# (shipped by googletest), Google Benchmark from its Debian source package (apt-get source, which
# needs a deb-src entry for the release). Both are installed under build/libcxx-deps/install, which
# the preset puts on CMAKE_PREFIX_PATH. Does nothing when that installation is already complete.
# Usage: scripts/build-libcxx-deps.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD/build/libcxx-deps
prefix=$root/install
stamp=$prefix/.complete-v1
[[ -f $stamp ]] && exit 0

cc=${CPI_LIBCXX_CC:-clang-19}
cxx=${CPI_LIBCXX_CXX:-clang++-19}
jobs=$(nproc 2>/dev/null || echo 2)
flags=(-G Ninja --no-warn-unused-cli -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx"
       -DCMAKE_CXX_FLAGS=-stdlib=libc++ -DCMAKE_EXE_LINKER_FLAGS=-stdlib=libc++
       -DCMAKE_SHARED_LINKER_FLAGS=-stdlib=libc++ -DCMAKE_INSTALL_PREFIX="$prefix"
       -DCMAKE_INSTALL_LIBDIR=lib -DBUILD_SHARED_LIBS=OFF)
rm -rf "$prefix" "$root/build"
mkdir -p "$root/src"

echo "== GoogleTest (/usr/src/googletest) for libc++" >&2
[[ -f /usr/src/googletest/CMakeLists.txt ]] || {
    echo "build-libcxx-deps: /usr/src/googletest is missing (install googletest)" >&2
    exit 1
}
cmake -S /usr/src/googletest -B "$root/build/googletest" "${flags[@]}" -DINSTALL_GTEST=ON \
    -DBUILD_GMOCK=ON >/dev/null
cmake --build "$root/build/googletest" -j "$jobs" >/dev/null
cmake --install "$root/build/googletest" >/dev/null

echo "== Google Benchmark (Debian source package) for libc++" >&2
source_dir=$(find "$root/src" -maxdepth 1 -type d -name 'benchmark-*' | sort | tail -1)
if [[ -z $source_dir ]]; then
    if ! apt-get source --print-uris benchmark >/dev/null 2>&1; then
        echo "build-libcxx-deps: no deb-src entry for benchmark; add one for this release" >&2
        exit 1
    fi
    (cd "$root/src" && apt-get source -qq benchmark >/dev/null 2>&1)
    source_dir=$(find "$root/src" -maxdepth 1 -type d -name 'benchmark-*' | sort | tail -1)
fi
[[ -n $source_dir ]] || {
    echo "build-libcxx-deps: apt-get source benchmark did not unpack a source tree" >&2
    exit 1
}
# Debian's packaging passes the upstream version in, as its sources do not read it from Git.
cmake -S "$source_dir" -B "$root/build/benchmark" "${flags[@]}" -DGIT_VERSION="${source_dir##*/benchmark-}" \
    -DBENCHMARK_ENABLE_TESTING=OFF \
    -DBENCHMARK_ENABLE_GTEST_TESTS=OFF -DBENCHMARK_ENABLE_WERROR=OFF -DBENCHMARK_INSTALL_DOCS=OFF \
    -DBENCHMARK_ENABLE_LIBPFM=OFF -DBENCHMARK_USE_LIBCXX=ON >/dev/null
cmake --build "$root/build/benchmark" -j "$jobs" >/dev/null
cmake --install "$root/build/benchmark" >/dev/null

touch "$stamp"
