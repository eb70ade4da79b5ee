#!/usr/bin/env bash
# Builds the Debian packages, checks them with lintian, installs them on this
# machine, builds and runs programs against the installed files only (with
# CMake's find_package and with pkg-config), runs the installed programs,
# removes the packages again and checks that none of their files is left.
# Also checks that the library alone configures and builds while the tools'
# libraries are hidden from pkg-config. Needs root or sudo (apt-get, dpkg).
#   scripts/test-packages.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$(pwd)
scripts/install-deps.sh
if [[ $(id -u) -eq 0 ]]; then as_root=(); else as_root=(sudo); fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
step() { echo "test-packages: $*"; }
fail() { echo "test-packages: FAILED: $*" >&2; exit 1; }

step "building the packages"
scripts/build-debs.sh "$work/debs"
mapfile -t debs < <(find "$work/debs" -name '*.deb' ! -name '*-dbgsym_*' | sort)
mapfile -t packages < <(for deb in "${debs[@]}"; do dpkg-deb -f "$deb" Package; done)

step "lintian"
# Errors fail; the warnings we accept are overridden, with the reason, in debian/.
lintian --fail-on error,warning --info "$work/debs"/*.changes || fail "lintian"

step "installing ${packages[*]}"
"${as_root[@]}" apt-get purge -y -q "${packages[@]}" >/dev/null 2>&1 || true
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q --no-install-recommends "${debs[@]}" >/dev/null
for package in "${packages[@]}"; do
  dpkg -L "$package" >"$work/files-$package"
done

step "a C program built with find_package against the installed package"
(cd "$work" && env -u LD_LIBRARY_PATH -u CMAKE_PREFIX_PATH -u PKG_CONFIG_PATH \
  cmake -S "$source_dir/tests/consumer" -B consumer >/dev/null && cmake --build consumer >/dev/null) ||
  fail "find_package consumer did not build"
[[ $(cd "$work" && env -u LD_LIBRARY_PATH consumer/probe) == VREN ]] || fail "find_package consumer did not run"

step "a C program built with pkg-config against the installed package"
(cd "$work" && env -u PKG_CONFIG_PATH cc -std=c99 -Wall -Werror -o probe-pc "$source_dir/tests/consumer/probe.c" \
  $(env -u PKG_CONFIG_PATH pkg-config --cflags --libs VrenLabelAPI)) || fail "pkg-config consumer did not build"
[[ $(cd "$work" && env -u LD_LIBRARY_PATH ./probe-pc) == VREN ]] || fail "pkg-config consumer did not run"

step "installed programs and manual pages"
(cd "$work" && env -u LD_LIBRARY_PATH vren-vprinter --version) || fail "vren-vprinter --version"
man -w vren-vprinter >/dev/null || fail "man -w vren-vprinter"
man -w vren-render >/dev/null || fail "man -w vren-render"
man -w 3 VrenLabelAPI >/dev/null || fail "man -w 3 VrenLabelAPI"
if [[ -e /usr/bin/vren-printer-app ]]; then
  (cd "$work" && env -u LD_LIBRARY_PATH vren-printer-app --version) || fail "vren-printer-app --version"
  man -w vren-printer-app >/dev/null || fail "man -w vren-printer-app"
fi
if dpkg-query -W python3-vrenlabel >/dev/null 2>&1; then
  (cd "$work" && env -u PYTHONPATH -u VREN_LIBRARY /usr/bin/python3 -c \
    'import vrenlabel, vrenlabel.raw; print(vrenlabel.__name__)') || fail "python3 -c 'import vrenlabel'"
fi

step "removing the packages"
"${as_root[@]}" apt-get purge -y -q "${packages[@]}" >/dev/null
left=()
for package in "${packages[@]}"; do
  while read -r path; do
    # Directories shared with other packages stay; files, links and the
    # directories of our own names must be gone.
    if [[ -d "$path" ]]; then
      [[ ! -L "$path" && "${path##*/}" =~ [Vv]ren ]] && left+=("$path")
    elif [[ -e "$path" || -L "$path" ]]; then
      left+=("$path")
    fi
  done <"$work/files-$package"
done
((${#left[@]} == 0)) || fail "left behind after purge: ${left[*]}"

step "the library alone, with the tools' libraries hidden from pkg-config"
mkdir -p "$work/pkgconfig"
cp "$(pkg-config --variable=pcfiledir bluez)/bluez.pc" "$work/pkgconfig/"
for hidden in freetype2 libpng zint; do
  PKG_CONFIG_LIBDIR="$work/pkgconfig" pkg-config --exists "$hidden" && fail "$hidden still visible"
done
PKG_CONFIG_LIBDIR="$work/pkgconfig" cmake -S "$source_dir" -B "$work/library-only" -DVREN_BUILD_TOOLS=OFF \
  -DVREN_BUILD_TESTS=OFF -DVREN_BUILD_EXAMPLES=OFF -DVREN_BUILD_MANPAGES=OFF \
  >/dev/null || fail "the library alone did not configure"
cmake --build "$work/library-only" -j"$(nproc)" >/dev/null || fail "the library alone did not build"
step "all passed"
