# Without pw-play the show runs in silence and still ends normally.
source "$(dirname "$0")/harness.sh"
start_display_and_audio

dir=$(make_data_dir no_player)
write_test_shader "$dir/tessary.glsl"
PATH=/nonexistent start_demo "$dir"
check "window appears" wait_for_window 30
check "the show is on screen" wait_for_picture 30 "$WORK/first.png"
check "frames change without a player" picture_moves
check "the show runs on" demo_running

press_escape
release_escape
wait_demo 10
check "exit status 0 (got $DEMO_STATUS)" [ "$DEMO_STATUS" -eq 0 ]
check "completion line exactly once" [ "$(grep -c '^The child process has completed its execution.$' "$dir/stdout")" -eq 1 ]
check "the shell said the player is missing" grep -q 'pw-play: not found' "$dir/stderr"
check "no sanitizer report" sanitizer_clean "$dir/stderr"
finish
