#!/usr/bin/env bash
# Installs the build and test dependencies that are missing (Debian; Homebrew on macOS).
# Usage: scripts/install-dependencies.sh [clang-libcxx | live]
#   clang-libcxx  also clang 19 and libc++ 19, and the source of Google Benchmark, for the
#                 "clang-libcxx" preset (Debian only)
#   live          also what the live test against Chromium runs on: Chromium and its translations,
#                 Xvfb, openbox, the accessibility bus, the X tools (Debian only)
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ "$(uname -s)" == "Darwin" ]]; then
    # pkgconf provides pkg-config, which neither Xcode's command-line tools nor Homebrew bring.
    formulae=(cmake ninja pkgconf nlohmann-json uriparser utf8proc googletest google-benchmark pcre2)
    brew list "${formulae[@]}" >/dev/null 2>&1 || brew install "${formulae[@]}"
    # The release build links uriparser statically; Homebrew has only its dylib.
    scripts/build-static-uriparser.sh
    exit 0
fi

packages=(cmake ninja-build g++ clang lld llvm libclang-rt-14-dev pkg-config clang-format
          nlohmann-json3-dev liburiparser-dev libutf8proc-dev libssl-dev libpcre2-dev
          libgtest-dev libgmock-dev libbenchmark-dev googletest
          libatspi2.0-dev libdbus-1-dev libxcb1-dev libxcb-xfixes0-dev libxcb-xtest0-dev)
if [[ ${1:-} == live ]]; then
    packages+=(chromium chromium-l10n xvfb openbox at-spi2-core dbus xclip x11-utils x11-xkb-utils xdotool openssl iproute2 python3)
fi
if [[ ${1:-} == clang-libcxx ]]; then
    # libc++-14-dev, if installed, is replaced: Debian's libc++ versions do not coexist.
    packages+=(clang-19 libc++-19-dev libc++abi-19-dev dpkg-dev)
fi
sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}" >&2
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The clang-libcxx preset builds Google Benchmark from its Debian source package, which apt-get
# only fetches with a deb-src entry for the release.
if [[ ${1:-} == clang-libcxx ]] && ! apt-get source --print-uris benchmark >/dev/null 2>&1; then
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    echo "Adding a deb-src entry for Debian $codename main" >&2
    printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\nSigned-By: %s\n' \
        "$codename" /usr/share/keyrings/debian-archive-keyring.gpg |
        $sudo tee /etc/apt/sources.list.d/chrome-private-input-src.sources >/dev/null
    $sudo apt-get update -qq
fi
