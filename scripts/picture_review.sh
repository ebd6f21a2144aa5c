#!/usr/bin/env bash
# Reviews the picture section by section, as docs/picture.md sets its
# targets: every tenth of a second at 480x270 for the look (contrast, dark
# share, edges, colourfulness, flat blocks), the whole show at 60 fps on
# small frames for motion and flashes, the kicks of both drops frame by
# frame, the city against 4x4 supersampled stills, the planet's stars for
# sparkle, and each section's draw cost against a flat shader. Writes the
# "Measured" section of docs/picture.md and docs/picture-colour-script.png
# (the show's colour over time, under the palette's swatches).
# About 20 minutes on the two-core development machine.
#
# usage: scripts/picture_review.sh [CAPTURE_BINARY]
#   CAPTURE_BINARY defaults to $TESSARY_CAPTURE, then the first
#   build*/tools/capture/tessary-capture found in the repository.
# Environment: REVIEW_DOCS (default docs/), REVIEW_COST_SIZE (default
#   1920x1080), REVIEW_MOTION_SIZE (default 128x72).
# Needs: a C++ compiler, libpng, ImageMagick (convert, montage), and a built
# data/ (the atlas).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/find_capture.sh"
say() { echo "picture_review.sh: $*"; }
die() {
    echo "picture_review.sh: $*" >&2
    exit 1
}
capture=$(find_capture "${1:-}") || die "no tessary-capture binary; build it or pass its path"
for command in c++ convert montage; do
    command -v "$command" >/dev/null || die "$command is missing"
done
[[ -f $root/data/font_subset_bw_sdf.jpg ]] || die "build first: data/ lacks the atlas"

docs=${REVIEW_DOCS:-$root/docs}
shader=$root/data/tessary.glsl
work=$(mktemp -d)
[[ -n ${REVIEW_KEEP:-} ]] || trap 'rm -rf "$work"' EXIT
c++ -std=c++17 -O2 -Wall -Wextra -o "$work/review" "$root/bench/picture_review.cpp" -lpng || die "cannot build bench/picture_review.cpp"
review=$work/review

# capture DATA_DIR ARGS...: tessary-capture, quiet, its log kept for a failure.
capture() {
    local data=$1
    shift
    "$capture" --data "$data" -q "$@" >"$work/capture.log" 2>&1 || die "tessary-capture $* failed: $(tail -n 3 "$work/capture.log")"
}

# frames FROM TO STEP SIZE DIR: PNG frames of [FROM, TO], TO included.
frames() {
    rm -rf "$5"
    capture "$root/data" --size "$4" --frames "$1:$2:$3" -o "$5"
}

# ---- the look, every tenth of a second; a frame a second kept for the colour script ----
: >"$work/look.txt"
mkdir -p "$work/strip"
for ((from = 0; from < 128; from += 16)); do
    say "look ${from}-$((from + 16)) s"
    frames "$from" "$((from + 15)).95" 0.1 480x270 "$work/chunk"
    "$review" look "$work/chunk" "$from" 0.1 >>"$work/look.txt"
    for ((i = 0; i < 160; i += 10)); do
        cp "$work/chunk/$(printf 'frame_%05d.png' "$i")" "$work/strip/$(printf 't%03d.png' $((from + i / 10)))"
    done
done

# ---- motion and flashes: the whole show at 60 fps, small ----
motion_size=${REVIEW_MOTION_SIZE:-128x72}
: >"$work/motion.txt"
previous=
for ((from = 0; from < 130; from += 10)); do
    say "motion ${from}-$((from + 10)) s at 60 fps"
    frames "$from" "$(awk -v a="$from" 'BEGIN { printf "%.12f", a + 599.5 / 60 }')" "$(awk 'BEGIN { printf "%.12f", 1 / 60 }')" \
        "$motion_size" "$work/chunk"
    "$review" motion "$work/chunk" "$from" "$(awk 'BEGIN { printf "%.12f", 1 / 60 }')" $previous >>"$work/motion.txt"
    cp "$work/chunk/frame_00599.png" "$work/previous.png"
    previous=$work/previous.png
done

# ---- the kicks of both drops: the frame before each and the frame on it ----
say "kicks"
kicks=$(sed -nE 's/^const int KICK_STEPS\[64\] = int\[64\]\((.*)\);/\1/p' "$shader" | tr -d ' ' | tr ',' '\n' |
    awk '{ for (s = 0; s < 16; ++s) if (int($1 / 2 ^ s) % 2) printf "%.4f\n", (NR - 1) * 2 + s * 0.125 }')
[[ -n $kicks ]] || die "no KICK_STEPS in the shader"
hits=$(sed -nE 's/^const float HIT_TIME\[[0-9]+\] = float\[[0-9]+\]\((.*)\);.*/\1/p' "$shader" | tr -d ' ')
[[ -n $hits ]] || die "no HIT_TIME in the shader"
: >"$work/kicks.txt"
# a kick on a hit, or within a quarter of a second of one, is the hit's
for k in $kicks; do
    awk -v k="$k" -v hits="$hits" 'BEGIN { n = split(hits, h, ","); for (i = 1; i <= n; ++i) if (h[i] <= k + 1e-6 && h[i] > k - 0.25) exit 1
        exit !((k >= 32.5 && k <= 40) || (k >= 80.5 && k <= 88)) }' || continue
    frames "$(awk -v k="$k" 'BEGIN { printf "%.12f", k - 1 / 60 }')" "$(awk -v k="$k" 'BEGIN { printf "%.12f", k + 0.5 / 60 }')" \
        "$(awk 'BEGIN { printf "%.12f", 1 / 60 }')" 480x270 "$work/pair"
    echo "$k $("$review" pair "$work/pair/frame_00000.png" "$work/pair/frame_00001.png")" >>"$work/kicks.txt"
done

# ---- the city against 4x4 supersampling ----
say "aliasing"
: >"$work/alias.txt"
for t in 36.1 45.3 57.7; do
    capture "$root/data" --size 480x270 --still "$t" -o "$work/small.png"
    capture "$root/data" --size 1920x1080 --still "$t" -o "$work/big.png"
    echo "$t $("$review" alias "$work/small.png" "$work/big.png")" >>"$work/alias.txt"
done

# ---- the planet's stars ----
say "sparkle"
frames 68 69.005 "$(awk 'BEGIN { printf "%.12f", 1 / 60 }')" 480x270 "$work/sparkle"
echo "68 69 $("$review" sparkle "$work/sparkle")" >"$work/sparkle.txt"

# ---- cost per section, and a flat shader's ----
cost_size=${REVIEW_COST_SIZE:-1920x1080}
: >"$work/cost.txt"
# median_ms: the median from tessary-capture's last line
median_ms() { sed -n 's/^draw_ms median=\([0-9.]*\) .*/\1/p' "$work/capture.log" | tail -n 1; }
# Three passes over the sections, each section's figure the median of its
# three: a burst of load on a shared machine lasts as long as a section's
# run and would otherwise land on one section alone.
: >"$work/cost_passes.txt"
for pass in 1 2 3; do
    for range in 0:15.5 16:31.5 32:63.5 64:79.5 80:111.5 112:127.5; do
        say "cost ${range%:*}-${range#*:} s at $cost_size, pass $pass of 3"
        "$capture" --data "$root/data" --time-only --size "$cost_size" --frames "$range:1" >"$work/capture.log" 2>&1 ||
            die "the cost run failed: $(tail -n 3 "$work/capture.log")"
        echo "${range%:*} $(median_ms)" >>"$work/cost_passes.txt"
    done
done
for start in 0 16 32 64 80 112; do
    echo "$start $(awk -v s="$start" '$1 == s { print $2 }' "$work/cost_passes.txt" | sort -g | sed -n 2p)" >>"$work/cost.txt"
done
mkdir -p "$work/flat"
ln -sf "$root/data/font_subset_bw_sdf.jpg" "$work/flat/"
printf '#version 130\nin vec4 v_color;\nout vec4 frag_color;\nvoid main() { frag_color = v_color; }\n' >"$work/flat/tessary.glsl"
"$capture" --data "$work/flat" --time-only --size "$cost_size" --frames 0:127:1 >"$work/capture.log" 2>&1 || die "the flat shader failed"
echo "flat $(median_ms)" >>"$work/cost.txt"

# ---- the report ----
"$review" report "$work/look.txt" "$work/motion.txt" "$work/kicks.txt" "$work/alias.txt" "$work/sparkle.txt" "$work/cost.txt" \
    "$work/measured.md"
{
    echo "## Measured"
    echo
    echo "Written by \`scripts/picture_review.sh\` ($(date -u +%Y-%m-%d), llvmpipe). Look: medians over frames 0.1 s apart at"
    echo "480x270, luma on sRGB code values, colourfulness after Hasler and Suesstrunk. Motion and flashes: the whole show at"
    echo "60 fps, $motion_size; a flash is a pair of opposing changes of at least 0.1 in relative luminance, the darker side"
    echo "under 0.8 (WCAG 2.3.1), over the frame and each quarter. Cost: the median draw of a frame a second at $cost_size,"
    echo "the middle of three passes over the sections."
    echo
    cat "$work/measured.md"
    echo
} >"$work/section.md"

# ---- the colour script: the palette, then a frame a second squeezed into a column ----
font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
font_args=()
[[ -f $font ]] && font_args=(-font "$font")
swatches=()
while read -r name r g b; do
    hex=$(awk -v r="$r" -v g="$g" -v b="$b" 'function s(c) { c = c <= 0.0031308 ? 12.92 * c : 1.055 * c ^ (1 / 2.4) - 0.055;
        return int(255 * (c < 0 ? 0 : c > 1 ? 1 : c) + 0.5) } BEGIN { printf "#%02x%02x%02x", s(r), s(g), s(b) }')
    convert -size 96x48 "xc:$hex" "$work/swatch_$name.png"
    swatches+=(-label "$name" "$work/swatch_$name.png")
done < <(sed -nE '/^\/\/ ---- colour script/,/^\/\/ ---- end of colour script/ s/^const vec3 ([A-Z_]+) *= *vec3\( *([0-9.]+), *([0-9.]+), *([0-9.]+)\);.*/\1 \2 \3 \4/p' "$shader")
[[ ${#swatches[@]} -gt 0 ]] || die "no colour script block in the shader"
# one row of swatches (three arguments each)
montage "${font_args[@]}" -pointsize 12 -background '#181818' -fill '#e0e0e0' "${swatches[@]}" -tile "$((${#swatches[@]} / 3))x" \
    -geometry +4+4 "$work/palette.png"
convert "$work"/strip/t*.png -resize '8x90!' +append "$work/strip.png"
convert "$work/palette.png" "$work/strip.png" -background '#181818' -gravity center -append -depth 8 "PNG24:$docs/picture-colour-script.png"

# Replace the "Measured" section of docs/picture.md (or add it).
page=$docs/picture.md
touch "$page"
awk -v section="$work/section.md" '
    /^## Measured/ { skip = 1; while ((getline line < section) > 0) print line; done = 1; next }
    skip && /^## / { skip = 0 }
    !skip { print }
    END { if (!done) { print ""; while ((getline line < section) > 0) print line } }
' "$page" >"$work/page.md"
mv "$work/page.md" "$page"
cat "$work/measured.md"
say "wrote the Measured section of $page and $docs/picture-colour-script.png"
