#!/usr/bin/env bash
# The main job: builds the library, starts the virtual printer on loopback,
# prints the demonstration label through the library, and shows what the
# printer received.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" --target vren-vprinter demo_label

work=$(mktemp -d)
trap 'kill "$printer" 2>/dev/null || true; rm -rf "$work"' EXIT
build/tools/vren-vprinter --port 0 --ready-file "$work/port" --record-dir "$work" \
  --exit-after 1 --show >"$work/printer.out" &
printer=$!
for _ in $(seq 100); do [[ -s "$work/port" ]] && break; sleep 0.05; done
[[ -s "$work/port" ]] || { echo "demo: the virtual printer did not start" >&2; exit 1; }

build/examples/demo_label "127.0.0.1:$(cat "$work/port")"
wait "$printer" || true
echo
echo "The virtual printer received:"
cat "$work/printer.out"
