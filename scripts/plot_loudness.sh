#!/bin/sh
# Draws docs/soundtrack-loudness.png from data/music.wav (render it first:
# cmake --build <tree> --target music): the momentary (400 ms) and short-term
# (3 s) loudness over time, measured by ffmpeg's ebur128 filter, with the
# sections of docs/timeline.md marked and labelled.
#
# usage: scripts/plot_loudness.sh [WAV [PNG]]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
wav="${1:-$root/data/music.wav}"
png="${2:-$root/docs/soundtrack-loudness.png}"
timeline="$root/docs/timeline.md"
if [ ! -f "$wav" ]; then
    echo "plot_loudness.sh: $wav not found; build the 'music' target first" >&2
    exit 1
fi
command -v ffmpeg >/dev/null || { echo "plot_loudness.sh: ffmpeg is not installed" >&2; exit 1; }
command -v convert >/dev/null || { echo "plot_loudness.sh: ImageMagick's convert is missing" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One line per 100 ms: "t: 12.3 ... M: -20.1 S: -21.0 ...", then a summary.
ffmpeg -hide_banner -nostats -i "$wav" -filter_complex ebur128=framelog=info -f null - 2>"$work/log" || {
    tail -n 5 "$work/log" >&2
    echo "plot_loudness.sh: ffmpeg could not measure $wav" >&2
    exit 1
}
# The sections: "| intro | 0-7 | 0 - 16 | ..." rows of the timeline page.
awk -F'|' 'NF > 4 && $3 ~ /^ *[0-9]+-[0-9]+ *$/ && $4 ~ /^ *[0-9.]+ - [0-9.]+ *$/ {
    name = $2; gsub(/^ +| +$/, "", name); split($4, s, " - "); print s[1] + 0, s[2] + 0, name
}' "$timeline" >"$work/sections"
[ -s "$work/sections" ] || { echo "plot_loudness.sh: no section table in $timeline" >&2; exit 1; }

font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
[ -f "$font" ] || font=
# Plot area and scales: 0-129 s across, -45 to -5 LUFS up.
awk -v font="$font" -v sections="$work/sections" '
BEGIN {
    W = 1600; H = 600; left = 70; right = 20; top = 60; bottom = 50
    t_max = 129; top_lufs = -5; low_lufs = -45
    pw = W - left - right; ph = H - top - bottom
}
function x(t) { return left + t / t_max * pw }
function y(l) {
    if (l > top_lufs) l = top_lufs
    if (l < low_lufs) l = low_lufs
    return top + (top_lufs - l) / (top_lufs - low_lufs) * ph
}
/t: *[0-9.]+ .* M: *-?[0-9.]+ S: *-?[0-9.]+/ && !/Summary/ {
    match($0, /t: *[0-9.]+/); t = substr($0, RSTART + 2, RLENGTH - 2) + 0
    match($0, /M: *-?[0-9.]+/); m = substr($0, RSTART + 2, RLENGTH - 2) + 0
    match($0, /S: *-?[0-9.]+/); s = substr($0, RSTART + 2, RLENGTH - 2) + 0
    n++; mx[n] = x(t); my[n] = y(m); sy[n] = y(s); s_on[n] = s > low_lufs
}
/^ *I: / { integrated = $2 }
/^ *LRA: / { lra = $2 }
END {
    if (font != "") print "font \"" font "\""
    print "stroke-antialias true"
    # Grid: every 5 LU, and the -14 LUFS the song is mastered to.
    for (l = low_lufs; l <= top_lufs; l += 5) {
        printf "stroke \"#2a3440\" stroke-width 1 line %d,%.1f %d,%.1f\n", left, y(l), W - right, y(l)
        printf "stroke none fill \"#8a96a3\" font-size 13 text %d,%.1f \"%d\"\n", left - 34, y(l) + 4, l
    }
    printf "stroke \"#4d6a50\" stroke-width 1 line %d,%.1f %d,%.1f\n", left, y(-14), W - right, y(-14)
    printf "stroke none fill \"#7fae84\" font-size 12 text %d,%.1f \"-14 LUFS\"\n", W - right - 62, y(-14) - 5
    for (t = 0; t <= 120; t += 10)
        printf "stroke none fill \"#8a96a3\" font-size 13 text %.1f,%d \"%d s\"\n", x(t) - 10, H - bottom + 20, t
    # Sections: a line at each start, the name above the plot.
    while ((getline line < sections) > 0) {
        split(line, f, " "); from = f[1]; to = f[2]; name = substr(line, length(f[1]) + length(f[2]) + 3)
        printf "stroke \"#5a6470\" stroke-width 1 line %.1f,%d %.1f,%d\n", x(from), top, x(from), H - bottom
        printf "stroke none fill \"#d8dee6\" font-size 15 text %.1f,%d \"%s\"\n", x(from) + 6, top - 10, name
    }
    printf "stroke \"#5a6470\" stroke-width 1 line %.1f,%d %.1f,%d\n", x(128), top, x(128), H - bottom
    # Momentary thin and pale, short-term bold on top, drawn segment by
    # segment: ImageMagick closes long wide polylines. The short-term curve
    # starts once its first 3 s are in.
    printf "fill none stroke \"#3f7fb0\" stroke-width 1 stroke-linecap round\n"
    for (i = 2; i <= n; i++) printf "line %.1f,%.1f %.1f,%.1f\n", mx[i - 1], my[i - 1], mx[i], my[i]
    printf "stroke \"#f0a030\" stroke-width 2.5\n"
    for (i = 2; i <= n; i++) if (s_on[i - 1]) printf "line %.1f,%.1f %.1f,%.1f\n", mx[i - 1], sy[i - 1], mx[i], sy[i]
    printf "stroke none fill \"#d8dee6\" font-size 17 text %d,24 \"tessary soundtrack: loudness (EBU R128)\"\n", left
    printf "stroke none fill \"#6fa8d8\" font-size 14 text %d,24 \"momentary (400 ms)\"\n", W - 690
    printf "stroke none fill \"#f0a030\" font-size 14 text %d,24 \"short-term (3 s)\"\n", W - 520
    printf "stroke none fill \"#8a96a3\" font-size 14 text %d,24 \"integrated %s LUFS, loudness range %s LU\"\n", W - 365, integrated, lra
    printf "stroke none fill \"#8a96a3\" font-size 13 text 8,%d \"LUFS\"\n", top - 10
}' "$work/log" >"$work/plot.mvg"

mkdir -p "$(dirname "$png")"
convert -size 1600x600 xc:"#12171d" -draw "$(cat "$work/plot.mvg")" "$png"
echo "wrote $png"
