#!/bin/sh
# Compiles the C example of the README against the public header, so the
# example stays valid C as the header changes.
#   readme_example.sh README.md INCLUDE_DIR C_COMPILER
set -eu
out=$(mktemp --suffix=.c)
trap 'rm -f "$out"' EXIT
awk '/^```c$/ { inside = 1; next } /^```$/ { inside = 0 } inside' "$1" >"$out"
test -s "$out"
"$3" -std=c99 -pedantic -Wall -Wextra -Werror -fsyntax-only -I"$2" "$out"
