# Started paused at 64 s, the studio shows what tessary-capture renders at
# that time, and nothing moves.
source "$(dirname "$0")/studio.sh"
start_display_and_audio

dir=$(make_data_dir paused)
check "window appears" start_studio "$dir" --at 64 --paused
check "tessary-capture renders 64 s" capture_still "$dir" 64 1280x720 "$WORK/still.png"
convert "$WORK/still.png" -crop 1280x600+0+70 +repage "$WORK/still_middle.png"

# Between the HUD at the top and the timeline strip at the bottom the picture
# is uncovered. The first frame of the real picture can take a while on a
# software rasterizer: grabs are taken until it is there.
for _ in $(seq 30); do
    grab_window "$WORK/hud.png"
    convert "$WORK/hud.png" -crop 1280x600+0+70 +repage "$WORK/hud_middle.png"
    difference=$(rmse "$WORK/hud_middle.png" "$WORK/still_middle.png")
    below "$difference" 0.01 && break
    sleep 0.5
done
check "the window is 1280x720" [ "$(identify -format %wx%h "$WORK/hud.png")" = 1280x720 ]
check "the picture under the HUD matches the capture (RMSE $difference)" below "$difference" 0.01
capture_still "$dir" 70 1280x720 "$WORK/other.png"
convert "$WORK/other.png" -crop 1280x600+0+70 +repage "$WORK/other_middle.png"
other=$(rmse "$WORK/hud_middle.png" "$WORK/other_middle.png")
check "and differs from 70 s (RMSE $other)" below 0.03 "$other"

studio_key h
sleep 1
grab_window "$WORK/clean.png"
difference=$(rmse "$WORK/clean.png" "$WORK/still.png")
check "with H the whole window matches the capture (RMSE $difference)" below "$difference" 0.01
check "the HUD was drawn over the picture" pixels_differ "$WORK/hud.png" "$WORK/clean.png"

grab_window "$WORK/first.png"
sleep 1
grab_window "$WORK/second.png"
check "paused, two grabs a second apart are identical" [ "$(compare -metric AE "$WORK/first.png" "$WORK/second.png" null: 2>&1)" = 0 ]

# A resized window draws at its new size, with u_res to match.
xdotool windowsize "$(studio_window)" 960 540
sleep 2
grab_window "$WORK/resized.png"
check "the window is now 960x540" [ "$(identify -format %wx%h "$WORK/resized.png")" = 960x540 ]
capture_still "$dir" 64 960x540 "$WORK/still_small.png"
difference=$(rmse "$WORK/resized.png" "$WORK/still_small.png")
check "resized, it matches the capture at that size (RMSE $difference)" below "$difference" 0.01

studio_key Escape
wait_demo 20
check "Escape: exit status 0 (got $DEMO_STATUS)" [ "$DEMO_STATUS" -eq 0 ]
check "no sanitizer report" sanitizer_clean "$dir/stderr"
finish
