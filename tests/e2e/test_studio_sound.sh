# The music follows the play head: it starts where the studio starts, falls
# silent on Space and resumes where it stopped, and jumps with the picture.
# The sink is recorded, and the recording is matched against music.wav.
source "$(dirname "$0")/studio.sh"
: "${AUDIO_OFFSET_BIN:?AUDIO_OFFSET_BIN must name audio_offset}"
start_display_and_audio

dir=$(make_data_dir sound)
# A cheap, small picture: keys are handled between frames.
write_test_shader "$dir/tessary.glsl"
rec=$WORK/sink.wav
check "the sink is recorded" start_recorder "$rec"

# recorded_seconds: how much the recorder has written so far.
recorded_seconds() {
    awk -v b="$(stat -c %s "$rec")" 'BEGIN { printf "%.3f", (b - 44) / 192000 }'
}
# music_at SECONDS GUESS: the music time the recording holds at SECONDS. The
# search stays within 1.5 s of the guess: the song repeats itself bars apart.
music_at() {
    "$AUDIO_OFFSET_BIN" at "$dir/music.wav" "$rec" "$1" "$2" 1.5 | cut -d' ' -f1
}

check "window appears" start_studio "$dir" --at 40 --size 480x270
sleep 3
onset=$("$AUDIO_OFFSET_BIN" onset "$rec" 0)
check "the sink hears the music (from ${onset} s of the recording)" below 0 "$onset"
# The first sound the sink got is music time 40: measured a second in, past
# the stream's start, where a busy machine may drop a few buffers.
first=$(music_at "$(awk -v o="$onset" 'BEGIN { print o + 1.0 }')" 41)
at_start=$(awk -v m="$first" 'BEGIN { printf "%.3f", m - 1.0 }')
check "--at 40: the music starts at 40 s (found $at_start s)" close_to "$at_start" 40 0.1

# Space: silence within 200 ms of the key reaching the display (xdotool has
# sent it when it returns).
studio_key space
pressed=$(recorded_seconds)
sleep 1.5
# A pause is a long silence; a busy machine's short playback dropouts are not.
silent=$("$AUDIO_OFFSET_BIN" silence "$rec" "$(awk -v p="$pressed" 'BEGIN { print p - 0.3 }')" 0.3)
check "Space silences the sink within 200 ms (key at $pressed s, silent from $silent s)" \
    close_to "$silent" "$pressed" 0.2
# Where the music stopped, from where it was before the key.
before=$(awk -v s="$silent" 'BEGIN { print s - 0.4 }')
stopped=$(awk -v m="$(music_at "$before" "$(awk -v b="$before" -v o="$onset" 'BEGIN { print 40 + b - o }')")" \
    'BEGIN { printf "%.3f", m + 0.4 }')

# Space again: it resumes where it stopped.
studio_key space
sleep 1.5
resumed=$("$AUDIO_OFFSET_BIN" onset "$rec" "$(awk -v s="$silent" 'BEGIN { print s + 0.05 }')")
# A busy machine may starve the first buffers: the sound then starts, stops
# for a few quanta and goes on where it was. Its steady start is the one after
# such gaps.
for _ in 1 2 3; do
    gap=$("$AUDIO_OFFSET_BIN" silence "$rec" "$resumed" 0.02)
    awk -v g="$gap" -v r="$resumed" 'BEGIN { exit !(g > 0 && g < r + 0.4) }' || break
    resumed=$("$AUDIO_OFFSET_BIN" onset "$rec" "$(awk -v g="$gap" 'BEGIN { print g + 0.02 }')")
done
restart=$(awk -v m="$(music_at "$(awk -v r="$resumed" 'BEGIN { print r + 0.3 }')" "$stopped")" \
    'BEGIN { printf "%.3f", m - 0.3 }')
check "Space again resumes where it stopped ($stopped s, resumed at $restart s)" close_to "$restart" "$stopped" 0.1

# Right: one bar (2 s) on, measured as the jump in music time against recording time.
studio_key Right
pressed=$(recorded_seconds)
sleep 1.5
# Music time against recording time, from where play resumed on.
guess=$(awk -v s="$stopped" -v r="$resumed" -v p="$pressed" 'BEGIN { print s + (p - r) }')
ahead_before=$(awk -v p="$pressed" -v m="$(music_at "$(awk -v p="$pressed" 'BEGIN { print p - 0.6 }')" \
    "$(awk -v g="$guess" 'BEGIN { print g - 0.6 }')")" 'BEGIN { printf "%.3f", m - (p - 0.6) }')
ahead_after=$(awk -v p="$pressed" -v m="$(music_at "$(awk -v p="$pressed" 'BEGIN { print p + 0.8 }')" \
    "$(awk -v g="$guess" 'BEGIN { print g + 2.8 }')")" 'BEGIN { printf "%.3f", m - (p + 0.8) }')
jump=$(awk -v a="$ahead_before" -v b="$ahead_after" 'BEGIN { printf "%.3f", b - a }')
check "Right moves the music 2 s on (moved $jump s)" close_to "$jump" 2.0 0.1

studio_key Escape
wait_demo 20
kill -INT "$RECORDER_PID"
wait "$RECORDER_PID" 2>/dev/null
check "Escape: exit status 0 (got $DEMO_STATUS)" [ "$DEMO_STATUS" -eq 0 ]
check "no sanitizer report" sanitizer_clean "$dir/stderr"
finish
