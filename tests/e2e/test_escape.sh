# Releasing Escape ends the picture; the last frame stays up and the window
# keeps answering the desktop while the music plays on, and the run ends when
# the music does. Another Escape release during the wait stops the music and
# ends the run at once. Times are taken from the test's own key presses and
# from the moment the player starts, so a slow machine can't make them race.
source "$(dirname "$0")/harness.sh"
start_display_and_audio

check_normal_end() {
    check "$1: exit status 0 (got $DEMO_STATUS)" [ "$DEMO_STATUS" -eq 0 ]
    check "$1: completion line exactly once" \
        [ "$(grep -c '^The child process has completed its execution.$' "$DEMO_DIR/stdout")" -eq 1 ]
    check "$1: completion line comes last" \
        [ "$(tail -n 1 "$DEMO_DIR/stdout")" = "The child process has completed its execution." ]
    check "$1: nothing left playing" nothing_left_in "$DEMO_DIR" 1
    check "$1: no sanitizer report" sanitizer_clean "$DEMO_DIR/stderr"
}

# One Escape: the picture stops, the music plays to its end (30 s, long
# enough that a busy machine still has the test's checks done before it ends).
start_tone_show once 30
check "once: frames change while the show runs" picture_moves
press_escape
release_escape
check "once: the picture stops" picture_stops 10
check "once: the last frame stays up" shows_a_picture "$WORK/still1.png"
check "once: the window answers a ping within 1 s" ping_window 1
check "once: still waiting for the music" demo_running
wait_demo 60
took=$(seconds_since "$PLAYER_START")
check "once: ends with the 30 s music, not before and not at 130 s (${took}s after it started)" \
    awk -v t="$took" 'BEGIN { exit !(t >= 29 && t < 40) }'
check_normal_end once

# Escape twice: the second release stops the 30 s music and ends the run.
start_tone_show twice 30
check "twice: the show is on screen" wait_for_picture 30 "$WORK/twice.png"
press_escape
release_escape
check "twice: the picture stops after the first Escape" picture_stops 10
check "twice: waiting for the music" demo_running
check "twice: the window answers a ping within 1 s" ping_window 1
press_escape
release_escape
mark=$(now)
wait_demo 20
took=$(seconds_since "$mark")
check "twice: ends within $QUICK_END s of the second release (took ${took}s)" within "$QUICK_END" "$took"
check_normal_end twice

finish
