#!/usr/bin/env bash
# Builds a static uriparser for the macOS release build from the source that Homebrew's formula
# uses (Homebrew itself ships only the dylib, which the hardened runtime's library validation
# refuses to load into a signed executable). Installs it under build/deps/uriparser-static, which
# CMakeLists.txt puts first on CMAKE_PREFIX_PATH when CPI_STATIC_DEPENDENCIES is on. Does nothing
# when that installation is already there.
# Usage: scripts/build-static-uriparser.sh
set -euo pipefail
cd "$(dirname "$0")/.."
prefix=$PWD/build/deps/uriparser-static
[[ -f $prefix/.complete ]] && exit 0
command -v brew >/dev/null || {
    echo "build-static-uriparser: Homebrew (brew) is needed for uriparser's source" >&2
    exit 1
}

# The formula's own source archive, checked against the formula's checksum by brew.
brew fetch --quiet --build-from-source uriparser >/dev/null
archive=$(brew --cache --build-from-source uriparser)
[[ -f $archive ]] || {
    echo "build-static-uriparser: brew did not leave uriparser's source at $archive" >&2
    exit 1
}

work=$PWD/build/deps/uriparser-work
rm -rf "$work" "$prefix"
mkdir -p "$work/src"
tar -xf "$archive" -C "$work/src" --strip-components 1
cmake -S "$work/src" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF \
    -DURIPARSER_BUILD_TESTS=OFF -DURIPARSER_BUILD_DOCS=OFF -DURIPARSER_BUILD_TOOLS=OFF \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib >/dev/null
cmake --build "$work/build" >/dev/null
cmake --install "$work/build" >/dev/null
rm -rf "$work"
touch "$prefix/.complete"
