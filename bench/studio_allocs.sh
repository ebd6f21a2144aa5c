#!/usr/bin/env bash
# Heap allocations in tessary-studio's frame loop: plays a cheap test picture
# for about 10 s on a private Xvfb and PipeWire, moving the play head with the
# transport keys and hiding the HUD, with bench/studio_allocs.c preloaded.
# A frame with allocations from the studio's own code is a fault; the driver's
# are listed apart (main_thread_all). Prints the probe's line.
#
# usage: bench/studio_allocs.sh [STUDIO_BINARY]   (default build/tools/studio/tessary-studio)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export TESSARY_BIN=${1:-$root/build/tools/studio/tessary-studio}
export TESSARY_DATA=$root/data
probe=$(mktemp -d)/libstudio_allocs.so
${CC:-cc} -O1 -fPIC -shared "$root/bench/studio_allocs.c" -o "$probe" -ldl

set +eu
source "$root/tests/e2e/harness.sh"
start_display_and_audio
dir=$(make_data_dir allocs)
write_test_shader "$dir/tessary.glsl"
DEMO_PRELOAD=$probe
start_demo "$dir" --data "$dir" --at 20
wait_for_window 30 || { echo "no window"; exit 1; }
xdotool mousemove --window "$(xdotool search --onlyvisible --pid "$DEMO_PID" | head -n 1)" 640 360
sleep 3
xdotool key Right Right l shift+Left Next Prior
sleep 3
xdotool key h space
sleep 1
xdotool key space
sleep 2
xdotool key Escape
wait_demo 20
grep '^studio_allocs ' "$dir/stderr"
rm -f "$probe"
