#!/bin/sh
# Installs the library into a scratch prefix and builds against the installed
# tree only, the way an application would: the README's C example compiles and
# links with the flags pkg-config gives, a program built the same way loads
# the installed libVrenLabelAPI.so.1 and calls into it, a CMake project finds
# the package with find_package(), and the installed programs that use the
# library run without LD_LIBRARY_PATH.
#   installed_tree.sh BUILD_DIR README.md C_COMPILER
set -eu
build=$1 readme=$2 cc=$3
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

pc=$(find "$prefix" -name VrenLabelAPI.pc)
test -n "$pc"
test -f "$prefix/include/VrenLabelAPI.h"
export PKG_CONFIG_PATH="${pc%/*}"
flags=$(pkg-config --cflags --libs VrenLabelAPI)
libdir=$(pkg-config --variable=libdir VrenLabelAPI)
test -e "$libdir/libVrenLabelAPI.so.1"

awk '/^```c$/ { inside = 1; next } /^```$/ { inside = 0 } inside' "$readme" >"$prefix/example.c"
test -s "$prefix/example.c"
# shellcheck disable=SC2086 # the flags are separate words
"$cc" -std=c99 -pedantic -Wall -Wextra -Werror -o "$prefix/example" "$prefix/example.c" $flags

consumer=$(dirname "$0")/consumer
# shellcheck disable=SC2086
"$cc" -std=c99 -Wall -Wextra -Werror -o "$prefix/probe" "$consumer/probe.c" $flags -Wl,-rpath,"$libdir"
readelf -d "$prefix/probe" | grep -q 'NEEDED.*\[libVrenLabelAPI\.so\.1\]'
test "$(cd "$prefix" && ./probe)" = VREN

cmake -S "$consumer" -B "$prefix/consumer" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$prefix/consumer" >/dev/null
test "$("$prefix/consumer/probe")" = VREN
# Another major version is not taken for this one.
if cmake -S "$consumer" -B "$prefix/consumer2" -DCMAKE_PREFIX_PATH="$prefix" -DWANTED_VERSION=2.0 >/dev/null 2>&1; then
  echo "installed_tree: find_package(VrenLabelAPI 2.0) took version 1" >&2
  exit 1
fi

for program in "$prefix"/bin/*; do
  readelf -d "$program" | grep -q 'NEEDED.*\[libVrenLabelAPI\.so\.1\]' || continue
  env -u LD_LIBRARY_PATH "$program" --help >/dev/null
done
