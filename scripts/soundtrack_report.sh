#!/bin/sh
# Writes docs/soundtrack.md (figures per section, each track's balance and
# the synth tests' targets, as measured) with the soundtrack_report tool,
# then redraws docs/soundtrack-loudness.png and docs/soundtrack.png. Build
# first: the tool renders the song itself and checks that data/music.wav is
# that render.
#
# usage: scripts/soundtrack_report.sh [SOUNDTRACK_REPORT_BINARY]
#   the binary defaults to the first build*/tests/synth/soundtrack_report
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
tool=${1:-}
if [ -z "$tool" ]; then
    for candidate in "$root"/build*/tests/synth/soundtrack_report; do
        [ -x "$candidate" ] && tool=$candidate && break
    done
fi
[ -n "$tool" ] && [ -x "$tool" ] || { echo "soundtrack_report.sh: no soundtrack_report binary; build it or pass its path" >&2; exit 1; }
[ -f "$root/data/music.wav" ] || { echo "soundtrack_report.sh: data/music.wav not found; build the 'music' target first" >&2; exit 1; }
page=$(mktemp)
trap 'rm -f "$page"' EXIT
"$tool" "$root/data/music.wav" >"$page"
cp "$page" "$root/docs/soundtrack.md"
echo "wrote $root/docs/soundtrack.md"
"$root/scripts/plot_loudness.sh"
"$root/scripts/plot_soundtrack.sh"
