#!/usr/bin/env bash
# Signs the production executable for Accessibility trust that survives rebuilds: a stable signing
# identifier (the bundle identifier of the Info.plist embedded at link time), the hardened runtime,
# no entitlements. macOS records a trusted program by its designated requirement; with a
# certificate identity that requirement names the identifier and the certificate, so a rebuilt
# and re-signed executable still matches its entry. An ad-hoc signature ("-") names only the hash
# of this very build: every rebuild then needs the entry removed and added again.
#
# Usage: scripts/sign-macos.sh [EXECUTABLE]
#   EXECUTABLE  default build/release/main/platform/macos/chrome-private-input
#   CPI_SIGN_IDENTITY  the certificate's name in the keychain (`security find-identity -p codesigning`);
#                      "-" for an ad-hoc signature (the default, with a warning)
#   CPI_INFO_PLIST     the Info.plist the executable was linked with (default: next to it, else the
#                      release build's)
set -euo pipefail
cd "$(dirname "$0")/.."
executable=${1:-build/release/main/platform/macos/chrome-private-input}
identity=${CPI_SIGN_IDENTITY:--}

[[ "$(uname -s)" == "Darwin" ]] || {
    echo "sign-macos: codesign exists only on macOS" >&2
    exit 1
}
[[ -f $executable ]] || {
    echo "sign-macos: $executable not found (build it first: cmake --build --preset release)" >&2
    exit 1
}

# The identifier is the bundle identifier of the Info.plist that the build embedded; the build tree
# keeps the file next to the executable (for an installed copy: CPI_INFO_PLIST, else the release
# build's). codesign binds the embedded copy, checked below.
plist=${CPI_INFO_PLIST:-$(dirname "$executable")/Info.plist}
[[ -f $plist ]] || plist=build/release/main/platform/macos/Info.plist
identifier=$(plutil -extract CFBundleIdentifier raw -o - "$plist" 2>/dev/null || true)
[[ -n $identifier ]] || {
    echo "sign-macos: no CFBundleIdentifier in $plist (set CPI_INFO_PLIST to the build's Info.plist)" >&2
    exit 1
}

# The hardened runtime's library validation loads only libraries signed by Apple or by the team of
# the executable: nothing outside the system may be linked dynamically.
foreign=$(otool -L "$executable" | tail -n +2 | awk '{print $1}' | grep -v -e '^/usr/lib/' -e '^/System/' || true)
if [[ -n $foreign ]]; then
    echo "sign-macos: $executable links libraries that library validation would refuse:" >&2
    echo "$foreign" >&2
    echo "(configure the release build with CPI_STATIC_DEPENDENCIES=ON; scripts/build-static-uriparser.sh)" >&2
    exit 1
fi

if [[ $identity == "-" ]]; then
    echo "sign-macos: ad-hoc signature: Accessibility trust will not survive the next build" \
         "(set CPI_SIGN_IDENTITY to a code-signing certificate)" >&2
fi
codesign --force --sign "$identity" --identifier "$identifier" --options runtime --timestamp=none \
    "$executable"
codesign --verify --strict --verbose=1 "$executable"
details=$(codesign --display --verbose=2 "$executable" 2>&1)
echo "$details" | grep -E '^(Identifier|Format|CodeDirectory|Authority|Info.plist)' || true
# The embedded plist must be bound to the signature ("Info.plist entries=N"), and the runtime on.
grep -q '^Info.plist entries=' <<<"$details" || {
    echo "sign-macos: the signature does not bind an embedded Info.plist" >&2
    exit 1
}
grep -q 'flags=.*runtime' <<<"$details" || {
    echo "sign-macos: the hardened runtime is not on" >&2
    exit 1
}
codesign --display --requirements - "$executable" 2>&1 | grep '^designated' || true
