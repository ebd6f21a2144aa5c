# The show keeps its pace: where the renderer can't keep up (llvmpipe at
# 1920x1080 with the real picture) the picture is drawn at a lower scale,
# where it can (a cheap picture at 1280x720) it keeps full scale; the
# scale is read from tessary-stats' report. And the first frame reaches the
# screen as the clock starts: the driver's work at a first draw is done
# before the clock's zero point.
source "$(dirname "$0")/harness.sh"
: "${STATS_BIN:?STATS_BIN must name tessary-stats}"
: "${FIRST_FRAMES_LIB:?FIRST_FRAMES_LIB must name the first_frames preload}"

# report_value NAME: a field of the report line on the program's standard error.
report_value() {
    grep '^frames=' "$DEMO_DIR/stderr" | tr ' ' '\n' | sed -n "s/^$1=//p"
}

# stats_show NAME: tessary-stats in the directory NAME (the real picture
# unless the caller wrote another), ended with Escape after its picture has
# been up for three seconds: the scale is judged a second at a time, so it
# has had its chances to move.
stats_show() {
    local dir=$WORK/$1
    make_music "$dir/music.wav" 1
    TESSARY_BIN=$STATS_BIN start_demo "$dir"
    check "$1: the picture is up" wait_for_picture 60 "$WORK/$1.png"
    sleep 3
    press_escape
    release_escape
    wait_demo 30
    check "$1: exit status 0 (got $DEMO_STATUS)" [ "$DEMO_STATUS" -eq 0 ]
    check "$1: no sanitizer report" sanitizer_clean "$dir/stderr"
    echo "  report: $(grep '^frames=' "$dir/stderr")"
}

start_display 1920x1080x24
make_data_dir real >/dev/null
stats_show real
check "real: drawn below full scale on a software renderer (scale_min $(report_value scale_min))" \
    awk -v s="$(report_value scale_min)" 'BEGIN { exit !(s != "" && s < 1.0) }'
stop_display

start_display 1280x720x24
write_test_shader "$(make_data_dir cheap)/tessary.glsl"
stats_show cheap
# A burst of other processes' work may dip it for a moment on a busy machine.
check "cheap: at full scale (scale_median $(report_value scale_median))" [ "$(report_value scale_median)" = 1.00 ]
stop_display

# The real picture, whose first draw makes llvmpipe generate its code for
# the better part of a second (the shader cache starts empty), with the time
# painted into its bottom-left corner: red is T / 2 s, blue marks the patch.
# On a small screen its frames are quick. The first_frames preload reads
# the corner of the first two frames shown; the second frame's T is the
# clock when the first was on screen.
start_display 320x180x24
dir=$(make_data_dir warm)
make_music "$dir/music.wav" 1
sed 's/^void main() {$/void show_main() {/' "$TESSARY_DATA/tessary.glsl" >"$dir/tessary.glsl"
cat >>"$dir/tessary.glsl" <<'GLSL'
void main() {
    show_main();
    if (all(lessThan(gl_FragCoord.xy / u_res, vec2(0.2))))
        frag_color = vec4(clamp(T / 2.0, 0.0, 1.0), 0.0, 1.0, 1.0);
}
GLSL
export FIRST_FRAMES_OUT=$WORK/first_frames
preload=$DEMO_PRELOAD
DEMO_PRELOAD=${DEMO_PRELOAD:+$DEMO_PRELOAD:}$FIRST_FRAMES_LIB
start_demo "$dir"
DEMO_PRELOAD=$preload
for _ in $(seq 600); do
    [ "$(grep -c "" "$FIRST_FRAMES_OUT" 2>/dev/null)" = 2 ] && break
    demo_running || break
    sleep 0.1
done
press_escape
release_escape
wait_demo 30
check "warm: exit status 0 (got $DEMO_STATUS)" [ "$DEMO_STATUS" -eq 0 ]
check "warm: no sanitizer report" sanitizer_clean "$dir/stderr"
cat "$FIRST_FRAMES_OUT"
# frame_time N: T in seconds painted into the Nth frame; nothing without the patch.
frame_time() { awk -v n="$1" '$2 == n && $5 > 200 { printf "%.3f", $3 / 255 * 2.0 }' "$FIRST_FRAMES_OUT"; }
first=$(frame_time 1)
second=$(frame_time 2)
# Under the sanitizers the fork and every frame take longer.
slower=1
[ -n "$DEMO_PRELOAD" ] && slower=3
check "warm: the first frame shows the show's start (T $first s)" \
    awk -v t="$first" -v k="$slower" 'BEGIN { exit !(t != "" && t < 0.05 * k) }'
check "warm: it was on screen by T $(awk -v k="$slower" 'BEGIN { print 0.25 * k }') s (the next frame's T: $second s)" \
    awk -v t="$second" -v k="$slower" 'BEGIN { exit !(t != "" && t < 0.25 * k) }'
finish
