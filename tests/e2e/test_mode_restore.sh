# On a real X server that can change modes (Xorg with the dummy driver, a
# 2560x1440 desktop that also offers 1920x1080), the show switches to
# 1920x1080 and every way it ends gives the desktop its 2560x1440 back: a
# missing atlas, a broken shader, SIGTERM and the normal end.
source "$(dirname "$0")/harness.sh"

XORG_PID=
stop_xorg() {
    [ -n "$XORG_PID" ] && kill "$XORG_PID" 2>/dev/null && wait "$XORG_PID" 2>/dev/null
    XORG_PID=
}
trap 'stop_xorg; cleanup' EXIT

# start_xorg: Xorg with the dummy video driver on a display of its own.
start_xorg() {
    mkdir -p "$WORK/xorg.d"
    cat >"$WORK/xorg.conf" <<'CONF'
Section "Monitor"
    Identifier "Monitor0"
    HorizSync 5.0-1000.0
    VertRefresh 5.0-200.0
    Option "ReducedBlanking"
    Modeline "2560x1440" 241.50 2560 2608 2640 2720 1440 1443 1448 1481 +hsync -vsync
    Modeline "1920x1080" 148.50 1920 2008 2052 2200 1080 1084 1089 1125 +hsync +vsync
EndSection
Section "Device"
    Identifier "Card0"
    Driver "dummy"
    VideoRam 256000
EndSection
Section "Screen"
    Identifier "Screen0"
    Device "Card0"
    Monitor "Monitor0"
    DefaultDepth 24
    SubSection "Display"
        Depth 24
        Modes "2560x1440" "1920x1080"
        Virtual 2560 1440
    EndSubSection
EndSection
CONF
    start_x_server xorg Xorg -config "$WORK/xorg.conf" -configdir "$WORK/xorg.d" \
        -logfile "$WORK/xorg.log" -noreset -nolisten tcp
    XORG_PID=$X_PID
    start_session_bus
}

# active_mode: the size of the mode the output shows now.
active_mode() { xrandr | awk '$2 ~ /\*/ { print $1; exit }'; }

desktop_restored() {
    local mode
    mode=$(active_mode)
    echo "  mode now $mode"
    [ "$mode" = 2560x1440 ]
}

start_xorg
check "the desktop starts at 2560x1440" desktop_restored

dir=$(make_data_dir no_atlas)
rm "$dir/font_subset_bw_sdf.jpg"
run_demo "$dir" 60
check "no atlas: exit status 255 (got $DEMO_STATUS)" [ "$DEMO_STATUS" -eq 255 ]
check "no atlas: 2560x1440 again" desktop_restored

dir=$(make_data_dir bad_shader)
printf '#version 130\nvoid main() { this is not glsl }\n' >"$dir/tessary.glsl"
run_demo "$dir" 60
check "broken shader: exit status 1 (got $DEMO_STATUS)" [ "$DEMO_STATUS" -eq 1 ]
check "broken shader: 2560x1440 again" desktop_restored

dir=$(make_data_dir term)
write_gradient_shader "$dir/tessary.glsl"
start_demo "$dir"
check "term: window appears" wait_for_window 60
check "term: the picture is up" wait_for_picture 30 "$WORK/term.png"
check "term: the show switched to 1920x1080" [ "$(active_mode)" = 1920x1080 ]
check "term: the picture fills the 1920x1080 the screen shows" \
    picture_corners_are_the_gradient "$WORK/term.png" 0 0 1920 1080
kill -TERM "$DEMO_PID"
wait_demo 20
check "term: exit status 143 (got $DEMO_STATUS)" [ "$DEMO_STATUS" -eq 143 ]
check "term: 2560x1440 again" desktop_restored

dir=$(make_data_dir normal)
write_test_shader "$dir/tessary.glsl"
make_music "$dir/music.wav" 1
start_demo "$dir"
check "normal: window appears" wait_for_window 60
check "normal: the picture is up" wait_for_picture 30 "$WORK/normal.png"
press_escape
release_escape
wait_demo 30
check "normal: exit status 0 (got $DEMO_STATUS)" [ "$DEMO_STATUS" -eq 0 ]
check "normal: 2560x1440 again" desktop_restored

for d in no_atlas bad_shader term normal; do
    check "$d: no sanitizer report" sanitizer_clean "$WORK/$d/stderr"
done
finish
