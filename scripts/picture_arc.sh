#!/usr/bin/env bash
# Measures the picture's energy arc: renders the whole show at 60 fps with
# tessary-capture (small frames, a few seconds at a time), measures every
# frame's mean luma, its change from the frame before (MAD), the white and
# near-black share, how the picture answers each kick, clap and hit of the
# song's table, the tunnel's speed in tiles per frame, the city against a
# high-budget render and the breakdown's text band against a render without
# the planet. Writes the "Picture arc" section of docs/benchmarks.md, draws
# docs/picture-arc.png (MAD and luminance over time beside the music's level)
# and docs/climax-phrases.png (the middle of each of the climax's phrases).
# About 5 minutes on the two-core development machine.
#
# usage: scripts/picture_arc.sh [CAPTURE_BINARY]
#   CAPTURE_BINARY defaults to $TESSARY_CAPTURE, then the first
#   build*/tools/capture/tessary-capture found in the repository.
# Environment: ARC_SIZE (default 256x144), ARC_FPS (default 60),
#   ARC_DOCS (default docs/: where the section and the pictures go).
# Needs: a C++ compiler, libpng, ImageMagick (convert, montage), and a built
# data/ (atlas and music.wav).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/find_capture.sh"
say() { echo "picture_arc.sh: $*"; }
die() {
    echo "picture_arc.sh: $*" >&2
    exit 1
}
capture=$(find_capture "${1:-}") || die "no tessary-capture binary; build it or pass its path"
for command in c++ convert montage; do
    command -v "$command" >/dev/null || die "$command is missing"
done
[[ -f $root/data/music.wav && -f $root/data/font_subset_bw_sdf.jpg ]] || die "build first: data/ lacks the atlas or music.wav"

size=${ARC_SIZE:-256x144}
fps=${ARC_FPS:-60}
docs=${ARC_DOCS:-$root/docs}
shader=$root/data/tessary.glsl
work=$(mktemp -d)
[[ -n ${ARC_KEEP:-} ]] || trap 'rm -rf "$work"' EXIT

c++ -std=c++17 -O2 -Wall -Wextra -o "$work/picture_arc" "$root/bench/picture_arc.cpp" -lpng || die "cannot build bench/picture_arc.cpp"
arc=$work/picture_arc
step=$(awk -v f="$fps" 'BEGIN { printf "%.17g", 1 / f }')
# frame_range FIRST COUNT: the --frames range of COUNT frames from frame
# FIRST on. It ends half a frame past the last one: the count then comes from
# the frame index alone, whichever way the step was rounded.
frame_range() {
    awk -v first="$1" -v n="$2" -v f="$fps" -v s="$step" 'BEGIN { printf "%.17g:%.17g:%s", first / f, (first + n - 0.5) / f, s }'
}

# render DATA_DIR RANGE OUT_DIR: PNG frames of a --frames range A:B:STEP.
render() {
    rm -rf "$3"
    "$capture" --data "$1" --size "$size" --frames "$2" -o "$3" -q >"$work/capture.log" 2>&1 ||
        die "tessary-capture failed: $(tail -n 3 "$work/capture.log")"
}

# variant NAME SED_EXPRESSION: a data directory whose shader has one change.
variant() {
    mkdir -p "$work/$1"
    ln -sf "$root/data/font_subset_bw_sdf.jpg" "$work/$1/"
    sed -E "$2" "$shader" >"$work/$1/tessary.glsl"
    cmp -s "$shader" "$work/$1/tessary.glsl" && die "the $1 variant changed nothing: has the shader's constant moved?"
    echo "$work/$1"
}

# ---- the whole show, a few seconds at a time ----
chunk=4
length=130
: >"$work/frames.txt"
previous=()
for ((from = 0; from < length; from += chunk)); do
    say "frames ${from}-$((from + chunk)) s"
    render "$root/data" "$(frame_range $((from * fps)) $((chunk * fps)))" "$work/chunk"
    "$arc" stats "$work/chunk" "$from" "$step" "${previous[@]}" >>"$work/frames.txt"
    cp "$work/chunk/$(printf 'frame_%05d.png' $((chunk * fps - 1)))" "$work/previous.png"
    previous=("$work/previous.png")
done

# ---- the city against more steps and a farther end of the march ----
say "city against a high-budget render"
reference=$(variant city_reference 's/^const int CITY_STEPS = [0-9]+;/const int CITY_STEPS = 200;/; s/^const float CITY_FAR = [0-9.]+;/const float CITY_FAR = 90.0;/')
render "$root/data" 32:63.5:0.5 "$work/city"
render "$reference" 32:63.5:0.5 "$work/city_ref"
"$arc" compare "$work/city" "$work/city_ref" 32 0.5 0 0.3333 >"$work/city.txt"

# ---- the greetings' band against the same frames without the planet ----
say "breakdown text band"
band=$(sed -nE 's/^const vec4 TEXT_GREETS *= *vec4\( *([0-9.]+), *([0-9.]+), *([0-9.]+), *([0-9.]+)\);.*/\1 \2 \3 \4/p' "$shader")
[[ -n $band ]] || die "no TEXT_GREETS block in the shader"
read -r band_from band_to band_bottom band_top <<<"$band"
no_planet=$(variant no_planet 's/^const float PLANET_RADIUS = [0-9.]+;/const float PLANET_RADIUS = 0.001;/')
render "$root/data" "$band_from:$band_to:0.25" "$work/planet"
render "$no_planet" "$band_from:$band_to:0.25" "$work/planet_removed"
"$arc" compare "$work/planet" "$work/planet_removed" "$band_from" 0.25 "$(awk -v b="$band_top" 'BEGIN { print 1 - b }')" \
    "$(awk -v b="$band_bottom" 'BEGIN { print 1 - b }')" >"$work/band.txt"

# ---- the tunnel's tile coordinate along its length, frame by frame ----
# A probe shader made of the tunnel's own travel function writes it into
# the first pixel: whole tiles (mod 256) in green, the fraction in red.
say "tunnel speed"
mkdir -p "$work/probe"
ln -sf "$root/data/font_subset_bw_sdf.jpg" "$work/probe/"
{
    echo "#version 130"
    echo "uniform float T;"
    echo "out vec4 frag_color;"
    grep -E '^const float (T_BUILD|TUNNEL_TILES|TAU) ' "$shader"
    sed -n '/^float tunnel_travel(/,/^}/p' "$shader"
    echo "void main() {"
    echo "    float w = tunnel_travel(T - T_BUILD) * TUNNEL_TILES / TAU;"
    echo "    frag_color = vec4(fract(w), mod(floor(w), 256.0) / 255.0, 0.0, 1.0);"
    echo "}"
} >"$work/probe/tessary.glsl"
grep -q 'tunnel_travel(float' "$work/probe/tessary.glsl" || die "no tunnel_travel() in the shader"
"$capture" --data "$work/probe" --size 8x8 --frames "$(frame_range $((16 * fps)) $((16 * fps)))" -o "$work/tunnel" -q \
    >"$work/capture.log" 2>&1 || die "the tunnel probe failed: $(tail -n 3 "$work/capture.log")"
"$arc" pixel "$work/tunnel" 16 "$step" >"$work/tunnel.txt"

# ---- the report, the plot and the climax's phrases ----
"$arc" report "$work/frames.txt" "$shader" "$root/data/music.wav" "$work/city.txt" "$work/band.txt" "$work/tunnel.txt" \
    "$work/section.md" "$work/arc.mvg"
mkdir -p "$docs"
convert "mvg:$work/arc.mvg" -depth 8 "PNG24:$docs/picture-arc.png"
font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
font_args=()
[[ -f $font ]] && font_args=(-font "$font")
tiles=()
# the middle of each phrase, a quarter of a second after its kick
for t in 84.25 92.25 100.25 108.25; do
    "$capture" --data "$root/data" --size 480x270 --still "$t" -o "$work/phrase_$t.png" -q >"$work/capture.log" 2>&1 ||
        die "the still at $t s failed"
    tiles+=(-label "T = $t s" "$work/phrase_$t.png")
done
montage "${font_args[@]}" -pointsize 18 -background '#181818' -fill '#e0e0e0' "${tiles[@]}" -tile 4x -geometry +6+6 \
    -depth 8 "PNG24:$docs/climax-phrases.png"
{
    cat "$work/section.md"
    echo
    echo "The middle of each of the climax's four phrases:"
    echo
    echo "![The climax at 84.25, 92.25, 100.25 and 108.25 s](climax-phrases.png)"
} >"$work/section_full.md"

# Replace the "Picture arc" section of docs/benchmarks.md (or add it).
bench_md=$docs/benchmarks.md
touch "$bench_md"
awk -v section="$work/section_full.md" '
    /^## Picture arc/ { skip = 1; while ((getline line < section) > 0) print line; done = 1; next }
    skip && /^## / { skip = 0 }
    !skip { print }
    END { if (!done) { print ""; while ((getline line < section) > 0) print line } }
' "$bench_md" >"$work/benchmarks.md"
mv "$work/benchmarks.md" "$bench_md"
say "wrote $docs/picture-arc.png, $docs/climax-phrases.png and the Picture arc section of $bench_md"
