# SIGTERM, SIGINT and SIGHUP end the show at once, during the picture or the
# wait for the music: the player stops, the status is 128 + the signal, and
# no completion line is written. After SIGKILL the player stops too, and the
# window goes with the program; so does the show when the display goes.
source "$(dirname "$0")/harness.sh"
start_display_and_audio

# start_show NAME: the test picture and a 30 s tone, playing, with frames
# coming (the first frame, where the driver compiles the shader, is past).
start_show() {
    start_tone_show "$1" 30
    check "$1: frames change" picture_moves
}

# signal_ends_it NAME SIGNAL STATUS: sends the signal and checks the ending.
signal_ends_it() {
    local name=$1 signal=$2 status=$3 mark took
    mark=$(now)
    kill "-$signal" "$DEMO_PID"
    wait_demo 10
    took=$(seconds_since "$mark")
    check "$name: ends within $QUICK_END s of SIG$signal (took ${took}s)" within "$QUICK_END" "$took"
    check "$name: exit status $status (got $DEMO_STATUS)" [ "$DEMO_STATUS" -eq "$status" ]
    check "$name: no completion line" [ "$(grep -c 'completed its execution' "$DEMO_DIR/stdout")" -eq 0 ]
    check "$name: nothing left playing" nothing_left_in "$DEMO_DIR" 1
    check "$name: no sanitizer report" sanitizer_clean "$DEMO_DIR/stderr"
}

start_show term
signal_ends_it term TERM 143

start_show hup
signal_ends_it hup HUP 129

# signal_at_start NAME HOLD_MS LIMIT: the audio child is held HOLD_MS after
# fork (fork_delay) and SIGTERM comes as the window maps, so the program
# passes it on while the child is held. The show ends within LIMIT seconds.
signal_at_start() {
    local name=$1 dir took mark
    dir=$(make_data_dir "$name")
    write_test_shader "$dir/tessary.glsl"
    make_music "$dir/music.wav" 30
    FORK_DELAY_MS=$2 DEMO_PRELOAD=${DEMO_PRELOAD:+$DEMO_PRELOAD:}${FORK_DELAY_LIB:?} start_demo "$dir"
    check "$name: window appears" wait_for_window 60
    mark=$(now)
    kill -TERM "$DEMO_PID"
    wait_demo 40
    took=$(seconds_since "$mark")
    check "$name: ends within $3 s of SIGTERM, not with the music (took ${took}s)" within "$3" "$took"
    check "$name: exit status 143 (got $DEMO_STATUS)" [ "$DEMO_STATUS" -eq 143 ]
    check "$name: nothing left playing" nothing_left_in "$dir" 1
}
# The signal reaches a child that is still starting: it is not lost.
signal_at_start early 500 $((QUICK_END + 1))
# A child that does not stop in time is killed, two seconds on.
signal_at_start stuck 10000 $((QUICK_END + 3))

# During the wait for the music, after Escape.
start_show int
press_escape
release_escape
sleep 1
check "int: waiting for the music after Escape" demo_running
signal_ends_it int INT 130

# SIGKILL can't be caught: the audio child notices the program is gone.
start_show kill
window=$(xdotool search --onlyvisible --pid "$DEMO_PID" | head -n 1)
kill -KILL "$DEMO_PID"
mark=$(now)
wait_demo 10
check "kill: the player stops within 1 s" nothing_left_in "$DEMO_DIR" 1
echo "  gone after $(seconds_since "$mark")s"
check "kill: the window is gone" bash -c "! xwininfo -id '$window' >/dev/null 2>&1"

# The X server going away (a desktop session that ends) ends the show too,
# with one line, instead of leaving a process spinning on a dead connection.
start_show lost
stop_display
mark=$(now)
wait_demo 10
took=$(seconds_since "$mark")
check "lost: ends within $QUICK_END s of the display (took ${took}s)" within "$QUICK_END" "$took"
check "lost: exit status 1 (got $DEMO_STATUS)" [ "$DEMO_STATUS" -eq 1 ]
check "lost: says so" grep -qx 'Lost the connection to the display' "$DEMO_DIR/stderr"
check "lost: nothing left playing" nothing_left_in "$DEMO_DIR" 1

finish
