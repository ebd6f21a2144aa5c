#!/bin/sh
# Draws docs/soundtrack.png, the whole soundtrack at a glance, from
# data/music.wav (render it first: cmake --build <tree> --target music).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
wav="${1:-$root/data/music.wav}"
png="${2:-$root/docs/soundtrack.png}"
if [ ! -f "$wav" ]; then
    echo "plot_soundtrack.sh: $wav not found; build the 'music' target first" >&2
    exit 1
fi
command -v sox >/dev/null || { echo "plot_soundtrack.sh: sox is not installed" >&2; exit 1; }
mkdir -p "$(dirname "$png")"
sox "$wav" -n remix - spectrogram -x 1600 -Y 600 -z 90 -t "tessary soundtrack" -c "120 BPM, 64 bars, 0-129 s" -o "$png"
echo "wrote $png"
