#!/usr/bin/env bash
# Grabs tessary-studio's window, HUD and timeline strip included, playing the
# show from 42 s on a private Xvfb and PipeWire (the end-to-end harness's),
# into docs/studio.png. Rerun it when the studio's look changes.
#
# usage: scripts/studio_screenshot.sh [STUDIO_BINARY]
#   STUDIO_BINARY defaults to build/tools/studio/tessary-studio.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export TESSARY_BIN=${1:-$root/build/tools/studio/tessary-studio}
export TESSARY_DATA=$root/data
[[ -x $TESSARY_BIN ]] || { echo "studio_screenshot.sh: no tessary-studio at $TESSARY_BIN" >&2; exit 1; }
out=${STUDIO_SHOT_OUT:-$root/docs/studio.png}

set +e
source "$root/tests/e2e/harness.sh"
start_display_and_audio
dir=$(make_data_dir shot)
start_demo "$dir" --data "$dir" --at 42
wait_for_window 30 || { echo "studio_screenshot.sh: no window"; exit 1; }
sleep 4
window=$(xdotool search --onlyvisible --pid "$DEMO_PID" | head -n 1)
xwd -id "$window" -silent | convert xwd:- "$out"
xdotool key Escape
wait_demo 20
echo "wrote $out"
