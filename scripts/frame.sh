#!/usr/bin/env bash
# Writes each argument to standard output as one frame: a 4-byte big-endian length, then the
# argument's bytes. Used by the demo and handy for trying the tool by hand.
set -euo pipefail
for payload in "$@"; do
    length=$(printf '%s' "$payload" | wc -c)
    printf "\\x$(printf %02x $(((length >> 24) & 255)))\\x$(printf %02x $(((length >> 16) & 255)))"
    printf "\\x$(printf %02x $(((length >> 8) & 255)))\\x$(printf %02x $((length & 255)))"
    printf '%s' "$payload"
done
