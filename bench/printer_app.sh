#!/usr/bin/env bash
# Printer application benchmark: a 10-page 4 x 6 in PNG job through IPP to the
# virtual printer, timed from the submit to the last label rendered, as a
# ratio to the label library's mandated pauses for the same bytes.
#
#   bench/printer_app.sh [BUILD_DIR]      (default: build)
#
# Method. The job is one 812 x 1218 dot PNG (a QR code and text) with
# copies=10: PAPPL rasterises and dithers it, the driver sends each page as
# bitmap bands and a print command and confirms it with a status query, and
# the virtual printer renders each label to label-NNNN.png. The clock runs
# from just before "vren-printer-app submit" until label-0010.png exists.
#
# The mandated pauses are computed from the library's own debug log
# (VRENLinuxSDKLog.txt in the server's working directory), restricted to the
# records between the submit and the last label, using the pauses the
# library's header states for a network connection:
#   every writeData() call that sent bytes ("complete to write the data.")
#     10 ms at entry + 10 ms before its one chunk                 = 20 ms
#   every readData() call ("START"): 100 ms at entry + 30 ms per poll; a
#     reply that completed ("Complete to read the data." or "The last of data
#     is a null.") counts one poll (130 ms), any other all 20 (700 ms)
#   every model query (modelCheck "start"): 100 ms between query and reply
# The ratio is wall time / that sum; 1.0 would mean that nothing but the
# library's own pauses cost time.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
app=$build/apps/printer-app/vren-printer-app
vprinter=$build/tools/vren-vprinter
render=$build/tools/render/render
for program in "$app" "$vprinter" "$render"; do
  [[ -x $program ]] || { echo "printer_app.sh: $program missing; build first" >&2; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
export SNAP_COMMON=$work HOME=$work
mkdir -p "$work/jobs"
"$vprinter" --port 0 --ready-file "$work/vp.port" --job-dir "$work/jobs" 2>"$work/vp.err" &
pids+=($!)
"$app" server -o server-port="$port" -o listen-hostname=localhost -o state-directory="$work/state" \
  -o log-file="$work/server.log" -o log-level=info &
pids+=($!)
for _ in $(seq 100); do [[ -s $work/vp.port && -S $work/vren-printer-app.sock ]] && break; sleep 0.1; done
"$app" add -d bench -v "vren://127.0.0.1:$(cat "$work/vp.port")" -m vren_lq1

# The picture: a QR code and a caption on a 4 x 6 in label, 8-bit gray.
printf "SL1218,24,G,0\rSW812\rB2120,120,Q,2,M,8,0,'https://example.org/bench'\rT100,760,3,3,3,0,0,N,B,'BENCH 4x6'\rP1,1\r" \
  >"$work/label.bin"
"$render" -o "$work/label.png" "$work/label.bin" >/dev/null

# Let the idle status query that adding a printer may start finish first.
sleep 3
start=$(date +%s.%N)
start_log=$(date '+%Y/%m/%d %H:%M:%S.%6N')
"$app" submit -d bench -o copies=10 "$work/label.png" >/dev/null
while [[ ! -e $work/jobs/label-0010.png ]]; do sleep 0.01; done
end=$(date +%s.%N)
end_log=$(date '+%Y/%m/%d %H:%M:%S.%6N')

/usr/bin/python3 - "$work/state/VRENLinuxSDKLog.txt" "$start_log" "$end_log" "$start" "$end" <<'EOF'
import re, sys
log, first, last, start, end = sys.argv[1], sys.argv[2], sys.argv[3], float(sys.argv[4]), float(sys.argv[5])
record = re.compile(r"^(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\.\d{6})  : \[(\S+)\s*\] (.*)")
writes = reads_done = reads_full = models = 0
open_read = False
with open(log, errors="replace") as f:
    for line in f:
        m = record.match(line)
        if not m or not (first <= m.group(1) <= last):
            continue
        tag, text = m.group(2), m.group(3)
        if tag == "writeData" and text.startswith("complete to write"):
            writes += 1
        elif tag == "readData" and text.startswith("START"):
            if open_read:
                reads_full += 1
            open_read = True
        elif tag == "readData" and (text.startswith("Complete to read") or text.startswith("The last of data")):
            reads_done += 1
            open_read = False
        elif tag == "readData" and text.startswith("read data") and open_read:
            reads_full += 1
            open_read = False
        elif tag == "modelCheck" and text == "start":
            models += 1
pauses = writes * 0.020 + reads_done * 0.130 + reads_full * 0.700 + models * 0.100
wall = end - start
print(f"labels: 10 (4 x 6 in, 812 x 1218 dots), wall time {wall:.3f} s")
print(f"library calls: {writes} writes, {reads_done} completed reads, {reads_full} full-length reads, {models} model queries")
print(f"mandated pauses: {pauses:.3f} s")
print(f"ratio: {wall / pauses:.3f}")
EOF
