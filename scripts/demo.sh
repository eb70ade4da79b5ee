#!/usr/bin/env bash
# The main job: builds the library, starts the virtual printer on loopback,
# prints the demonstration label through the library, shows what the printer
# received, and leaves the printed label as label.png in the directory the
# script was started from.
set -euo pipefail
caller=$(pwd)
cd "$(dirname "$0")/.."
scripts/install-deps.sh

cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" --target vren-vprinter demo_label

work=$(mktemp -d)
trap 'kill "$printer" 2>/dev/null || true; rm -rf "$work"' EXIT
build/tools/vren-vprinter --port 0 --ready-file "$work/port" --record-dir "$work" \
  --job-dir "$work/jobs" --label-png "$caller/label.png" \
  --exit-after 1 --show >"$work/printer.out" 2>"$work/printer.err" &
printer=$!
for _ in $(seq 100); do [[ -s "$work/port" ]] && break; sleep 0.05; done
[[ -s "$work/port" ]] || { echo "demo: the virtual printer did not start" >&2; cat "$work/printer.err" >&2; exit 1; }

build/examples/demo_label "127.0.0.1:$(cat "$work/port")"
wait "$printer" || true
echo
echo "The virtual printer received:"
cat "$work/printer.out"
echo
if [[ -s "$caller/label.png" ]]; then
  echo "The printed label: $caller/label.png"
  if [[ -s "$work/jobs/label-0001.json" ]] && grep -q '"source"' "$work/jobs/label-0001.json"; then
    echo "The printer's notes on it:"
    sed -n '/"diagnostics"/,$p' "$work/jobs/label-0001.json"
  fi
else
  echo "demo: no label was printed" >&2
  exit 1
fi
