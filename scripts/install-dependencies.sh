#!/usr/bin/env bash
# Installs the build and test dependencies that are missing (Debian; Homebrew on macOS).
set -euo pipefail

if [[ "$(uname -s)" == "Darwin" ]]; then
    brew list cmake ninja nlohmann-json uriparser utf8proc googletest google-benchmark pcre2 >/dev/null 2>&1 ||
        brew install cmake ninja nlohmann-json uriparser utf8proc googletest google-benchmark pcre2
    exit 0
fi

packages=(cmake ninja-build g++ clang lld llvm libclang-rt-14-dev pkg-config clang-format
          nlohmann-json3-dev liburiparser-dev libutf8proc-dev libssl-dev libpcre2-dev
          libgtest-dev libgmock-dev libbenchmark-dev)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if ((${#missing[@]})); then
    sudo=""
    [[ $(id -u) -ne 0 ]] && sudo="sudo"
    echo "Installing: ${missing[*]}" >&2
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
