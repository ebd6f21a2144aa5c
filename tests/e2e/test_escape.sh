# Releasing Escape ends the picture; the program then waits for the player,
# with the last frame on screen, and ends normally when the music has.
source "$(dirname "$0")/harness.sh"
start_display_and_audio

dir=$(make_data_dir escape)
write_test_shader "$dir/tessary.glsl"
make_music "$dir/music.wav" 6
start_demo "$dir"
check "window appears" wait_for_window 30
sleep 1
check "frames change while the show runs" picture_moves

press_escape
release_escape
sleep 0.5
check "still waiting for the music" demo_running
check "the last frame stays up after Escape" picture_still

wait_demo 60
check "exit status 0 (got $DEMO_STATUS)" [ "$DEMO_STATUS" -eq 0 ]
check "ends with the 6 s music, not at 130 s (took ${DEMO_SECONDS}s)" \
    awk -v t="$DEMO_SECONDS" 'BEGIN { exit !(t >= 5.5 && t < 15) }'
check "completion line exactly once" [ "$(grep -c '^The child process has completed its execution.$' "$dir/stdout")" -eq 1 ]
check "completion line comes last" [ "$(tail -n 1 "$dir/stdout")" = "The child process has completed its execution." ]
check "no sanitizer report" sanitizer_clean "$dir/stderr"
finish
