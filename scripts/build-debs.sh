#!/usr/bin/env bash
# Builds the Debian packages from the working tree with debhelper
# (dpkg-buildpackage -b -us -uc) and leaves the .deb files, the .changes and
# the .buildinfo in OUTDIR (default build-deb/).
#   scripts/build-debs.sh [OUTDIR]
# The build runs in a copy of the tracked files, so that neither the tree nor
# its parent directory collects build products.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh >/dev/null
out=$(realpath -m "${1:-build-deb}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/vrenlabelapi"
git ls-files -z --cached --others --exclude-standard | xargs -0 cp -P --parents -t "$work/vrenlabelapi"
# The system's own tools only: an interpreter installed elsewhere on PATH
# (pyenv, a venv) does not see Debian's Python packages.
(cd "$work/vrenlabelapi" && PATH=/usr/sbin:/usr/bin:/sbin:/bin DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS:-parallel=$(nproc)}" \
  dpkg-buildpackage -b -us -uc >"$work/build.log" 2>&1) || {
  tail -60 "$work/build.log" >&2
  echo "build-debs: dpkg-buildpackage failed" >&2
  exit 1
}
rm -rf "$out"
mkdir -p "$out"
cp "$work"/*.deb "$work"/*.changes "$work"/*.buildinfo "$out/"
cp "$work/build.log" "$out/"
ls -1 "$out"/*.deb
