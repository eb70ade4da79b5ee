#!/bin/sh
# Installs the library into a scratch prefix and builds against the installed
# tree only, the way an application would: the README's C example compiles and
# links with the flags pkg-config gives, and a program built the same way loads
# the installed libVrenLabelAPI.so.1 and calls into it.
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

cat >"$prefix/probe.c" <<'PROBE'
#include <VrenLabelAPI.h>
int main(void) {
    /* No connection is open: nothing to close. The model table is data
       exported by the library. */
    return DisconnectPrinter() == -1 && gConnectedPrinter == 0 && KORVEL_DEVICE[0] != 0 ? 0 : 1;
}
PROBE
# shellcheck disable=SC2086
"$cc" -std=c99 -Wall -Wextra -Werror -o "$prefix/probe" "$prefix/probe.c" $flags -Wl,-rpath,"$libdir"
readelf -d "$prefix/probe" | grep -q 'NEEDED.*\[libVrenLabelAPI\.so\.1\]'
(cd "$prefix" && ./probe)
