# Started paused at 64 s, the studio shows what tessary-capture renders at
# that time, and nothing moves. Resized with the HUD on, the picture follows
# the new size at once, and F12 still works.
source "$(dirname "$0")/studio.sh"
start_display_and_audio

dir=$(make_data_dir paused)
check "window appears" start_studio "$dir" --at 64 --paused
check "tessary-capture renders 64 s" capture_still "$dir" 64 1280x720 "$WORK/still.png"
check "and at 960x540" capture_still "$dir" 64 960x540 "$WORK/still_small.png"

# matches_capture GRAB STILL WxH+X+Y: the window, grabbed into GRAB until the
# region (between the HUD at the top and the timeline strip at the bottom, or
# all of it) matches STILL's there, for at most 20 s: the first frame of the
# real picture can take a while on a software rasterizer. Sets DIFFERENCE.
matches_capture() {
    local grab=$1 still=$2 region=$3
    convert "$still" -crop "$region" +repage "$WORK/want.png"
    for _ in $(seq 40); do
        grab_window "$grab"
        convert "$grab" -crop "$region" +repage "$WORK/got.png"
        DIFFERENCE=$(rmse "$WORK/got.png" "$WORK/want.png")
        below "$DIFFERENCE" 0.01 && break
        sleep 0.5
    done
    echo "  RMSE $DIFFERENCE"
    below "$DIFFERENCE" 0.01
}

matches_capture "$WORK/hud.png" "$WORK/still.png" 1280x600+0+70
check "the window is 1280x720" [ "$(identify -format %wx%h "$WORK/hud.png")" = 1280x720 ]
check "the picture under the HUD matches the capture (RMSE $DIFFERENCE)" below "$DIFFERENCE" 0.01
capture_still "$dir" 70 1280x720 "$WORK/other.png"
convert "$WORK/other.png" -crop 1280x600+0+70 +repage "$WORK/other_middle.png"
convert "$WORK/hud.png" -crop 1280x600+0+70 +repage "$WORK/hud_middle.png"
other=$(rmse "$WORK/hud_middle.png" "$WORK/other_middle.png")
check "and differs from 70 s (RMSE $other)" below 0.03 "$other"

grab_window "$WORK/first.png"
sleep 1
grab_window "$WORK/second.png"
check "paused, two grabs a second apart are identical" [ "$(compare -metric AE "$WORK/first.png" "$WORK/second.png" null: 2>&1)" = 0 ]

# Resized with the HUD on (the default): the picture is drawn at the new size
# with u_res to match, although the HUD's program was the last one in use.
xdotool windowsize "$(studio_window)" 960 540
check "resized with the HUD on, it matches the capture at that size" \
    matches_capture "$WORK/resized.png" "$WORK/still_small.png" 960x440+0+60
check "the window is now 960x540" [ "$(identify -format %wx%h "$WORK/resized.png")" = 960x540 ]
check "F12 right after the resize writes the screenshot" [ "$(screenshot_time)" = 64.000 ]
check "and no GL error was left behind" bash -c "! grep -qE 'screenshot failed|GL_' '$dir/stderr'"

studio_key h
check "with H the whole window matches the capture" \
    matches_capture "$WORK/clean.png" "$WORK/still_small.png" 960x540+0+0
check "the HUD was drawn over the picture" pixels_differ "$WORK/resized.png" "$WORK/clean.png"

studio_key Escape
wait_demo 20
check "Escape: exit status 0 (got $DEMO_STATUS)" [ "$DEMO_STATUS" -eq 0 ]
check "no sanitizer report" sanitizer_clean "$dir/stderr"
finish
