# The screen shows what the fragment shader computes: the quad covers the
# whole 1920x1080 screen with its corner colours.
source "$(dirname "$0")/harness.sh"
start_display_and_audio

dir=$(make_data_dir screen)
write_test_shader "$dir/tessary.glsl"
make_music "$dir/music.wav" 1
start_demo "$dir" --ignored argument
check "window appears" wait_for_window 30
check "the picture is up" wait_for_picture 30 "$WORK/screen.png"
check "grab is 1920x1080" [ "$(identify -format %wx%h "$WORK/screen.png")" = 1920x1080 ]
check "top left is red" near_rgb "$(pixel_rgb "$WORK/screen.png" 2 2)" 255 0 0
check "top right is green" near_rgb "$(pixel_rgb "$WORK/screen.png" 1917 2)" 0 255 0
check "bottom right is blue" near_rgb "$(pixel_rgb "$WORK/screen.png" 1917 1077)" 0 0 255
check "bottom left is white" near_rgb "$(pixel_rgb "$WORK/screen.png" 2 1077)" 255 255 255
check "centre blends red and blue" near_rgb "$(pixel_rgb "$WORK/screen.png" 960 540)" 128 0 128

press_escape
release_escape
wait_demo 20
check "exit status 0 (got $DEMO_STATUS)" [ "$DEMO_STATUS" -eq 0 ]
check "no sanitizer report" sanitizer_clean "$dir/stderr"
finish
