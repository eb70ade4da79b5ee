#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running the project
# need, when they are missing. Safe to run any number of times.
set -euo pipefail

packages=(
  # build
  g++ cmake make pkg-config binutils
  # tests, benchmarks and fuzzing
  libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-dev util-linux
  # runtime dependencies of the library
  libbluetooth-dev imagemagick
  # the virtual printer's label renderer: symbols, glyphs, fonts, PNG files
  libzint-dev libfreetype-dev fonts-dejavu-core fonts-wqy-microhei libpng-dev
  # the virtual printer's JSON transcripts
  nlohmann-json3-dev
  # the printer application, and the real clients its tests print and look with
  libpappl-dev cups-ipp-utils zbar-tools chromium
  # the Python package and its tests
  python3 python3-pil python3-pytest python3-tqdm python3-pip python3-setuptools
  # Debian packages and man pages
  dpkg-dev debhelper dh-python python3-all pybuild-plugin-pyproject fakeroot lintian help2man pandoc man-db
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done

if ((${#missing[@]} == 0)); then
  echo "install-deps: all packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
if [[ $(id -u) -eq 0 ]]; then
  as_root=()
elif command -v sudo >/dev/null; then
  as_root=(sudo)
else
  echo "install-deps: need root or sudo to install: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
