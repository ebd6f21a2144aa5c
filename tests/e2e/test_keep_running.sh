# Holding Escape down and asking the window to close do not end the show;
# only the release of Escape does.
source "$(dirname "$0")/harness.sh"
start_display_and_audio

dir=$(make_data_dir keep_running)
write_test_shader "$dir/tessary.glsl"
make_music "$dir/music.wav" 1
start_demo "$dir"
check "window appears" wait_for_window 30
check "the show is on screen" wait_for_picture 30 "$WORK/first.png"

press_escape
sleep 2
check "Escape held: still running" demo_running
check "close request delivered" request_close
sleep 2
check "after a close request: still running" demo_running
check "the picture goes on" picture_moves

release_escape
wait_demo 20
check "Escape released: exit status 0 (got $DEMO_STATUS)" [ "$DEMO_STATUS" -eq 0 ]
check "completion line" grep -qx 'The child process has completed its execution.' "$dir/stdout"
check "no sanitizer report" sanitizer_clean "$dir/stderr"
finish
