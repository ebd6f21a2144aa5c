# scripts/picture_arc.sh measures every frame of the show: none is lost where
# one chunk of frames hands over to the next, whatever the frame rate, and a
# temporary folder with a space in its name is no trouble. The real capture
# tool renders, but a flat shader at 8x8 pixels keeps the whole run at 60
# frames a second short; the report and plots go into the scratch folder.
set -u
: "${CAPTURE_BIN:?CAPTURE_BIN must name tessary-capture}"
: "${TESSARY_DATA:?TESSARY_DATA must name the data directory}"
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
scratch=$(mktemp -d "/tmp/tessary arc.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
# expect WHAT COMMAND...: the command holds, or the test fails here.
expect() {
    local what=$1
    shift
    "$@" || { echo "FAIL: $what"; exit 1; }
    echo "ok: $what"
}

mkdir -p "$scratch/data" "$scratch/tmp dir"
cp "$TESSARY_DATA/font_subset_bw_sdf.jpg" "$scratch/data/"
printf '#version 130\nout vec4 c;\nvoid main() { c = vec4(0.5); }\n' >"$scratch/data/tessary.glsl"
# The capture tool on the flat shader, whichever data folder it is asked for.
cat >"$scratch/capture" <<SH
#!/bin/bash
args=()
while [ \$# -gt 0 ]; do
    if [ "\$1" = --data ]; then shift 2; else args+=("\$1"); shift; fi
done
exec "$CAPTURE_BIN" --data "$scratch/data" "\${args[@]}"
SH
chmod +x "$scratch/capture"

TMPDIR="$scratch/tmp dir" ARC_KEEP=1 ARC_FPS=60 ARC_SIZE=8x8 ARC_DOCS="$scratch/docs" \
    bash "$ROOT/scripts/picture_arc.sh" "$scratch/capture" >"$scratch/out" 2>&1
status=$?
[ "$status" -eq 0 ] || tail -n 5 "$scratch/out"
expect "the script ends with status 0 (got $status)" [ "$status" -eq 0 ]
table=$(find "$scratch/tmp dir" -name frames.txt | head -n 1)
# 33 chunks of 4 s at 60 frames a second; frame i is at i/60 s (the table
# has milliseconds).
expect "every frame of the 33 chunks is measured ($(wc -l <"${table:-/dev/null}") rows)" \
    [ "$(wc -l <"${table:-/dev/null}")" -eq 7920 ]
expect "frame i is at i/60 s" awk '$1 < (NR - 1) / 60 - 0.001 || $1 > (NR - 1) / 60 + 0.001 { off++ } END { exit off > 0 || NR == 0 }' \
    "${table:-/dev/null}"
expect "the plot is drawn" [ -s "$scratch/docs/picture-arc.png" ]
echo "all checks passed"
