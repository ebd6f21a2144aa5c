# Under a Wayland compositor, through Xwayland: a headless Weston with its
# GL renderer at 2560x1440. The compositor makes the window full screen; the
# picture fills the output, and Escape ends the show.
source "$(dirname "$0")/harness.sh"

WESTON_PID=
stop_weston() {
    [ -n "$WESTON_PID" ] && kill "$WESTON_PID" 2>/dev/null && wait "$WESTON_PID" 2>/dev/null
    WESTON_PID=
}
trap 'stop_weston; cleanup' EXIT

# start_weston: Weston with Xwayland; DISPLAY is the X server it listens on,
# ready once its window manager has announced itself.
start_weston() {
    start_session_bus
    weston --backend=headless-backend.so --use-gl --xwayland --debug --socket=tessary-wayland \
        --width=2560 --height=1440 --idle-time=0 --log="$WORK/weston.log" >/dev/null 2>&1 &
    WESTON_PID=$!
    local display=
    for _ in $(seq 100); do
        display=$(sed -n 's/.*xserver listening on display \(:[0-9]*\).*/\1/p' "$WORK/weston.log" 2>/dev/null)
        [ -n "$display" ] && break
        sleep 0.1
    done
    if [ -z "$display" ]; then
        echo "Weston did not start Xwayland"
        tail -n 20 "$WORK/weston.log"
        exit 1
    fi
    export DISPLAY=$display WAYLAND_DISPLAY=tessary-wayland
    # The first X client starts Xwayland; its window manager follows.
    for _ in $(seq 100); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
        sleep 0.1
    done
    echo "Xwayland's window manager did not come up"
    exit 1
}

# screenshot FILE: what the compositor shows, through its own screenshooter.
screenshot() {
    rm -f "$WORK"/wayland-screenshot-*.png
    (cd "$WORK" && timeout 20 weston-screenshooter >/dev/null 2>&1)
    mv "$WORK"/wayland-screenshot-*.png "$1" 2>/dev/null
}

start_weston
dir=$(make_data_dir wayland)
write_gradient_shader "$dir/tessary.glsl"
start_demo "$dir"
check "window appears" wait_for_window 60
for _ in $(seq 20); do
    sleep 0.5
    screenshot "$WORK/output.png" && picture_corners_are_the_gradient "$WORK/output.png" 0 0 2560 1440 >/dev/null && break
done
check "the compositor took a screenshot" [ -s "$WORK/output.png" ]
check "the picture fills the 2560x1440 output" picture_corners_are_the_gradient "$WORK/output.png" 0 0 2560 1440
xdotool key Escape
wait_demo 30
check "Escape ends it: exit status 0 (got $DEMO_STATUS)" [ "$DEMO_STATUS" -eq 0 ]
check "completion line" grep -qx 'The child process has completed its execution.' "$dir/stdout"
check "no sanitizer report" sanitizer_clean "$dir/stderr"
finish
