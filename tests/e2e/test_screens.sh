# The whole picture on screens that are not 1920x1080: the picture follows
# the drawable the window really gets, 16:9 shapes fill it, others get black
# bars around a centred 16:9 picture. A 16-bit screen without an alpha visual
# still shows it.
source "$(dirname "$0")/harness.sh"

# show_on SCREEN NAME [XVFB OPTIONS...]: runs the gradient shader on a fresh
# X screen and grabs it into $WORK/NAME.png.
show_on() {
    local screen=$1 name=$2
    shift 2
    start_display "$screen" "$@"
    local dir
    dir=$(make_data_dir "$name")
    write_gradient_shader "$dir/tessary.glsl"
    start_demo "$dir"
    check "$name: window appears" wait_for_window 60
    # Two grabs that agree: the picture is up and settled.
    for _ in $(seq 20); do
        sleep 0.5
        grab_screen "$WORK/$name.png"
        grab_screen "$WORK/$name-again.png"
        same_picture "$WORK/$name.png" "$WORK/$name-again.png" && shows_a_picture "$WORK/$name.png" >/dev/null && break
    done
}

# end_show NAME: Escape ends it normally; then the screen goes.
end_show() {
    press_escape
    release_escape
    wait_demo 30
    check "$1: exit status 0 (got $DEMO_STATUS)" [ "$DEMO_STATUS" -eq 0 ]
    check "$1: no sanitizer report" sanitizer_clean "$DEMO_DIR/stderr"
    stop_display
}

show_on 1280x720x24 hd
check "hd: the whole picture, corner to corner" picture_corners_are_the_gradient "$WORK/hd.png" 0 0 1280 720
end_show hd

show_on 2560x1440x24 qhd
check "qhd: the whole picture, corner to corner" picture_corners_are_the_gradient "$WORK/qhd.png" 0 0 2560 1440
end_show qhd

# 16:10: a 1920x1080 picture centred, 60 rows of black above and below.
show_on 1920x1200x24 wide
check "wide: the picture between the bars" picture_corners_are_the_gradient "$WORK/wide.png" 0 60 1920 1080
check "wide: the top bar is black" region_is_black "$WORK/wide.png" 1920x60+0+0
check "wide: the bottom bar is black" region_is_black "$WORK/wide.png" 1920x60+0+1140
end_show wide

# Without Composite a 16-bit Xvfb has no 32-bit visual, so no alpha channel.
show_on 1920x1080x16 depth16 -extension Composite
check "depth16: the picture shows" picture_corners_are_the_gradient "$WORK/depth16.png" 0 0 1920 1080
end_show depth16

finish
