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

mkdir "$prefix/consumer"
cp "$prefix/probe.c" "$prefix/consumer/"
cat >"$prefix/consumer/CMakeLists.txt" <<'CONSUMER'
cmake_minimum_required(VERSION 3.25)
project(consumer C)
find_package(VrenLabelAPI 1.0 REQUIRED)
add_executable(probe probe.c)
target_link_libraries(probe PRIVATE VrenLabelAPI::VrenLabelAPI)
CONSUMER
cmake -S "$prefix/consumer" -B "$prefix/consumer/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$prefix/consumer/build" >/dev/null
"$prefix/consumer/build/probe"
# Another major version is not taken for this one.
sed -i 's/VrenLabelAPI 1.0 REQUIRED/VrenLabelAPI 2.0 REQUIRED/' "$prefix/consumer/CMakeLists.txt"
if cmake -S "$prefix/consumer" -B "$prefix/consumer/build2" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null 2>&1; then
  echo "installed_tree: find_package(VrenLabelAPI 2.0) took version 1" >&2
  exit 1
fi

for program in "$prefix"/bin/*; do
  readelf -d "$program" | grep -q 'NEEDED.*\[libVrenLabelAPI\.so\.1\]' || continue
  env -u LD_LIBRARY_PATH "$program" --help >/dev/null
done
