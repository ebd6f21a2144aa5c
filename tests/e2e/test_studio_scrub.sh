# The transport keys move the play head as the timeline says, L loops the
# section, and F12 writes the very pixels tessary-capture renders at that T.
source "$(dirname "$0")/studio.sh"
start_display_and_audio

dir=$(make_data_dir scrub)
check "window appears" start_studio "$dir" --at 10 --paused
sleep 1

studio_key Next
t=$(screenshot_time)
check "Page Down from 10 s: the next section's start, 16 s (got $t)" [ "$t" = 16.000 ]
shot=$dir/tessary-T16.000.png
check "F12 wrote $shot in the working directory" [ -f "$shot" ]
check "it is 1920x1080" [ "$(identify -format %wx%h "$shot")" = 1920x1080 ]
check "tessary-capture renders 16 s" capture_still "$dir" 16.000 1920x1080 "$WORK/capture16.png"
check "the screenshot's pixels equal the capture's" [ "$(compare -metric AE "$shot" "$WORK/capture16.png" null: 2>&1)" = 0 ]

studio_key Right
t=$(screenshot_time)
check "Right: one bar on (got $t)" [ "$t" = 18.000 ]
studio_key shift+Right shift+Right shift+Right
t=$(screenshot_time)
check "Shift+Right three times: three beats on (got $t)" [ "$t" = 19.500 ]
studio_key shift+Left Left
t=$(screenshot_time)
check "Shift+Left, Left: a beat and a bar back (got $t)" [ "$t" = 17.000 ]
studio_key Prior
t=$(screenshot_time)
check "Page Up: back to the section's start (got $t)" [ "$t" = 16.000 ]
studio_key Prior
t=$(screenshot_time)
check "Page Up again: the section before (got $t)" [ "$t" = 0.000 ]
studio_key Home Left
t=$(screenshot_time)
check "Home, then Left stops at 0 (got $t)" [ "$t" = 0.000 ]

# Loop the build-up (16 to 32 s) from 28 s: 6 s of play end near 18 s, not 34 s.
studio_key Next Right Right Right Right Right Right l space
sleep 6
studio_key space
t=$(screenshot_time)
check "L loops the section: after its end the time is back near its start (got $t)" \
    awk -v t="$t" 'BEGIN { exit !(t >= 16.5 && t <= 20.5) }'

# A click on the timeline strip: the middle of the window is the middle of the show.
xdotool mousemove --window "$(studio_window)" 640 710 click 1
t=$(screenshot_time)
check "a click in the middle of the strip moves to 65 s (got $t)" awk -v t="$t" 'BEGIN { exit !(t >= 64 && t <= 66) }'

studio_key Escape
wait_demo 20
check "Escape: exit status 0 (got $DEMO_STATUS)" [ "$DEMO_STATUS" -eq 0 ]
check "no sanitizer report" sanitizer_clean "$dir/stderr"
finish
