#!/usr/bin/env bash
# Renders one still of the presentation every 10 s (and one at 125 s, inside
# the outro) with tessary-capture and tiles them, labelled with their time,
# into docs/contact_sheet.png. Rerun it whenever data/tessary.glsl changes.
#
# usage: scripts/contact_sheet.sh [CAPTURE_BINARY]
#   CAPTURE_BINARY defaults to $TESSARY_CAPTURE, then the first
#   build*/tools/capture/tessary-capture found in the repository.
# Environment: SHEET_SIZE (default 480x270), SHEET_OUT (default docs/contact_sheet.png).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/find_capture.sh"
capture=$(find_capture "${1:-}") || {
    echo "contact_sheet.sh: no tessary-capture binary; build it or pass its path" >&2
    exit 1
}
command -v montage >/dev/null || { echo "contact_sheet.sh: ImageMagick's montage is missing" >&2; exit 1; }

size=${SHEET_SIZE:-480x270}
out=${SHEET_OUT:-$root/docs/contact_sheet.png}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

times=(0 10 20 30 40 50 60 70 80 90 100 110 120 125)
tiles=()
for t in "${times[@]}"; do
    file=$(printf '%s/t%03d.png' "$work" "$t")
    "$capture" --data "$root/data" --size "$size" --still "$t" -o "$file" -q >"$work/log" 2>&1 || {
        cat "$work/log" >&2
        echo "contact_sheet.sh: the still at ${t} s failed" >&2
        exit 1
    }
    tiles+=(-label "T = ${t} s" "$file")
done

font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
font_args=()
[[ -f $font ]] && font_args=(-font "$font")
mkdir -p "$(dirname "$out")"
montage "${font_args[@]}" -pointsize 18 -background '#181818' -fill '#e0e0e0' \
    "${tiles[@]}" -tile 5x -geometry +6+6 -depth 8 "PNG24:$out"
echo "contact_sheet.sh: wrote $out (${#times[@]} stills at $size)"
