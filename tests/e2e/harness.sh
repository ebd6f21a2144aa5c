# End-to-end harness, sourced by every end-to-end test.
#
# Each test gets a throw-away directory, its own X screen, its own D-Bus
# session bus and runtime directory, and (when it needs sound) its own
# headless PipeWire with a null sink, so tests can run side by side and
# nothing from the machine's own desktop session leaks in.
#
# Expects TESSARY_BIN (the program under test) and TESSARY_DATA (the built
# data/ directory) in the environment; ctest sets both, and for a sanitizer
# build also TESSARY_GL_PRELOAD, the libraries the program starts with.

set -u

: "${TESSARY_BIN:?TESSARY_BIN must name the tessary program}"
: "${TESSARY_DATA:?TESSARY_DATA must name the data directory}"
E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

WORK=$(mktemp -d /tmp/tessary-e2e.XXXXXX)
FAILURES=0
DEMO_PID=
DEMO_DIR=
DEMO_DIRS=()
DEMO_PRELOAD=${TESSARY_GL_PRELOAD:-}
XVFB_PID=
DBUS_PID=
PW_PIDS=()

# The session's own servers and settings stay out: every address and
# directory a client library could find them by points into WORK.
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY PULSE_SERVER PIPEWIRE_REMOTE PIPEWIRE_RUNTIME_DIR \
    XAUTHORITY SESSION_MANAGER XDG_SESSION_TYPE
export XDG_RUNTIME_DIR=$WORK/run XDG_CONFIG_HOME=$WORK/config XDG_STATE_HOME=$WORK/state \
    XDG_DATA_HOME=$WORK/share XDG_CACHE_HOME=$WORK/cache
mkdir -p -m 700 "$XDG_RUNTIME_DIR"

# How long the program may take to end once told to: a second, or three under
# the sanitizers, whose leak check at exit takes a time of its own.
QUICK_END=1
[ -n "$DEMO_PRELOAD" ] && QUICK_END=3

# A sanitizer build checks our code for memory errors, undefined behaviour
# and leaks; the preloads keep the GL driver mapped, and the suppressions
# name only the driver. Only the program itself gets the preloads.
if [ -n "$DEMO_PRELOAD" ]; then
    export ASAN_OPTIONS="detect_leaks=1"
    export LSAN_OPTIONS="suppressions=$E2E_DIR/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
fi

cleanup() {
    # The demo leads its own process group; its audio child stops the player
    # when the program is gone.
    [ -n "$DEMO_PID" ] && kill -9 -- "-$DEMO_PID" 2>/dev/null
    for pid in "${PW_PIDS[@]}"; do kill "$pid" 2>/dev/null; done
    [ -n "$DBUS_PID" ] && kill "$DBUS_PID" 2>/dev/null
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
    wait 2>/dev/null
    if [ "$FAILURES" -eq 0 ] && [ -z "${KEEP_WORK:-}" ]; then
        rm -rf "$WORK"
    else
        # What the program said is the first thing to read about a failure.
        local dir
        [ "$FAILURES" -ne 0 ] && printf '%s\n' "${DEMO_DIRS[@]}" | awk '!seen[$0]++' | while read -r dir; do
            [ -s "$dir/stderr" ] || continue
            echo "the program's standard error in $dir, its end:"
            tail -n 10 "$dir/stderr" | sed 's/^/  | /'
        done
        echo "work directory kept: $WORK"
    fi
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    FAILURES=$((FAILURES + 1))
}

pass() {
    echo "ok: $*"
}

# check DESCRIPTION COMMAND...: runs the command, counts a failure when it fails.
check() {
    local what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}

finish() {
    if [ "$FAILURES" -ne 0 ]; then
        echo "$FAILURES check(s) failed"
        exit 1
    fi
    echo "all checks passed"
    exit 0
}

# start_session_bus: a D-Bus session bus of the test's own. Without one, the
# client libraries in the program (SDL's D-Bus support) would find the
# machine's session bus, or try to launch one.
start_session_bus() {
    [ -n "$DBUS_PID" ] && return 0
    dbus-daemon --session --fork --address="unix:path=$XDG_RUNTIME_DIR/bus" \
        --print-pid=8 8>"$WORK/dbus.pid"
    DBUS_PID=$(cat "$WORK/dbus.pid")
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$XDG_RUNTIME_DIR/bus"
}

# wait_for_x PID DISPLAY: until the X server answers, or has died.
wait_for_x() {
    for _ in $(seq 100); do
        xdpyinfo -display "$2" >/dev/null 2>&1 && return 0
        kill -0 "$1" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

# start_x_server NAME COMMAND...: starts an X server that picks a free display
# number itself (-displayfd): choosing one here and then starting the server
# races with the tests beside this one, and the loser would end up drawing on
# the winner's screen. Sets X_PID and exports DISPLAY once the server answers.
start_x_server() {
    local name=$1 n=
    shift
    : >"$WORK/$name.display"
    "$@" -displayfd 9 9>"$WORK/$name.display" >"$WORK/$name.out" 2>&1 &
    X_PID=$!
    for _ in $(seq 300); do
        n=$(head -n 1 "$WORK/$name.display")
        [ -n "$n" ] && break
        kill -0 "$X_PID" 2>/dev/null || break
        sleep 0.1
    done
    if [ -n "$n" ] && wait_for_x "$X_PID" ":$n"; then
        export DISPLAY=":$n"
        return 0
    fi
    echo "$name did not start"
    tail -n 20 "$WORK/$name.out"
    kill "$X_PID" 2>/dev/null
    exit 1
}

# start_display [WxHxDEPTH [XVFB OPTIONS...]]: a private Xvfb (1920x1080x24
# by default) and the test's own session bus. -noreset: by default the server
# resets when its last client leaves (the readiness check above), and a
# program connecting during that reset is refused.
start_display() {
    local screen=${1:-1920x1080x24}
    [ $# -gt 0 ] && shift
    start_x_server xvfb Xvfb -screen 0 "$screen" -nolisten tcp -noreset "$@"
    XVFB_PID=$X_PID
    start_session_bus
}

stop_display() {
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null
    XVFB_PID=
}

start_audio() {
    start_session_bus
    pipewire >"$WORK/pipewire.log" 2>&1 &
    PW_PIDS+=($!)
    for _ in $(seq 100); do
        [ -S "$XDG_RUNTIME_DIR/pipewire-0" ] && break
        sleep 0.1
    done
    wireplumber >"$WORK/wireplumber.log" 2>&1 &
    PW_PIDS+=($!)
    pw-cli create-node adapter '{ factory.name=support.null-audio-sink node.name=nullsink
        media.class=Audio/Sink object.linger=true audio.position=[FL FR] }' >/dev/null
    for _ in $(seq 100); do
        pw-cli ls Node 2>/dev/null | grep -q '"nullsink"' && return 0
        sleep 0.1
    done
    echo "PipeWire null sink did not appear"
    exit 1
}

# start_recorder FILE: records the null sink into FILE (48 kHz, 16-bit
# stereo) and returns once samples arrive; sets RECORDER_PID. On a loaded
# machine WirePlumber may not have the sink yet when the recorder asks for it
# ("no node available", and the recorder ends): it is asked again.
start_recorder() {
    local size
    for _ in 1 2 3 4 5; do
        pw-record --target nullsink --rate 48000 --channels 2 --format s16 "$1" 2>>"$WORK/pw-record.log" &
        RECORDER_PID=$!
        for _ in $(seq 100); do
            kill -0 "$RECORDER_PID" 2>/dev/null || break
            size=$(stat -c %s "$1" 2>/dev/null || echo 0)
            if [ "$size" -gt 4096 ]; then
                PW_PIDS+=("$RECORDER_PID")
                return 0
            fi
            sleep 0.1
        done
        kill "$RECORDER_PID" 2>/dev/null
        wait "$RECORDER_PID" 2>/dev/null
    done
    echo "the recorder never got the sink: $(tail -n 1 "$WORK/pw-record.log")"
    return 1
}

start_display_and_audio() {
    start_display
    start_audio
}

# make_data_dir NAME: a run directory with copies of the built run-time files.
make_data_dir() {
    local dir=$WORK/$1
    mkdir -p "$dir"
    cp "$TESSARY_DATA/tessary.glsl" "$TESSARY_DATA/font_subset_bw_sdf.jpg" "$TESSARY_DATA/music.wav" "$dir/"
    echo "$dir"
}

# make_music FILE SECONDS: a quiet, non-silent 48 kHz stereo test tone.
make_music() {
    sox -n -r 48000 -c 2 -b 16 "$1" synth "$2" sine 330 vol 0.3
}

# start_demo DIR [ARGS...]: starts the program in DIR, stdout and stderr to
# files there. It leads its own process group, so cleanup can end its children.
start_demo() {
    local dir=$1
    shift
    DEMO_DIR=$dir
    DEMO_DIRS+=("$dir")
    DEMO_START=$(date +%s.%N)
    (cd "$dir" && LD_PRELOAD=$DEMO_PRELOAD exec /usr/bin/setsid "$TESSARY_BIN" "$@" \
        >"$dir/stdout" 2>"$dir/stderr") &
    DEMO_PID=$!
}

# wait_demo SECONDS: waits for the program; sets DEMO_STATUS (124 on time-out) and DEMO_SECONDS.
wait_demo() {
    local limit=$1 waited=0
    while kill -0 "$DEMO_PID" 2>/dev/null; do
        if [ "$waited" -ge $((limit * 10)) ]; then
            DEMO_STATUS=124
            return
        fi
        sleep 0.1
        waited=$((waited + 1))
    done
    wait "$DEMO_PID"
    DEMO_STATUS=$?
    DEMO_PID=
    DEMO_SECONDS=$(awk -v a="$DEMO_START" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')
}

# start_tone_show NAME SECONDS: the test picture and a test tone that long in
# a fresh directory, started, its window up and its player playing.
# PLAYER_START is when the player started, in `now`'s terms.
start_tone_show() {
    local dir
    dir=$(make_data_dir "$1")
    write_test_shader "$dir/tessary.glsl"
    make_music "$dir/music.wav" "$2"
    start_demo "$dir"
    check "$1: window appears" wait_for_window 60
    check "$1: the player plays" wait_for_player "$dir" 30
    PLAYER_START=$(started_at "$(players_in "$dir" | head -n 1)")
}

# run_demo DIR SECONDS [ARGS...]: starts the program and waits for it.
run_demo() {
    local dir=$1 limit=$2
    shift 2
    start_demo "$dir" "$@"
    wait_demo "$limit"
}

# now: the time in seconds, for measuring from a test's own key or signal.
now() { date +%s.%N; }

# seconds_since MARK: seconds from MARK (a `now`) until now.
seconds_since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }'; }

# within SECONDS VALUE: VALUE is at most SECONDS.
within() { awk -v limit="$1" -v t="$2" 'BEGIN { exit !(t <= limit) }'; }

# processes_in DIR: every live process working in DIR: the program, its
# audio child, the shell and the player. Other tests' players work elsewhere.
# Builtins only, so a scan stays quick on a busy machine.
processes_in() {
    local p
    for p in /proc/[0-9]*; do
        [ "$p/cwd" -ef "$1" ] && echo "${p#/proc/}"
    done
    return 0
}

# players_in DIR: the PipeWire players working in DIR.
players_in() {
    local pid
    for pid in $(pgrep -x pw-play); do
        [ "/proc/$pid/cwd" -ef "$1" ] && echo "$pid"
    done
    return 0
}

# started_at PID: when the process started, in `now`'s terms.
started_at() {
    local -a stat
    local uptime
    read -r -a stat <"/proc/$1/stat" || return 1
    read -r uptime _ </proc/uptime
    # Field 22 is the start time in clock ticks after boot (the name in field 2 has no blanks).
    awk -v n="$(now)" -v up="$uptime" -v ticks="${stat[21]}" -v hz="$(getconf CLK_TCK)" \
        'BEGIN { printf "%.2f", n - (up - ticks / hz) }'
}

# nothing_left_in DIR SECONDS: within that time no process works in DIR any more.
nothing_left_in() {
    for _ in $(seq $(($2 * 10))); do
        [ -z "$(processes_in "$1")" ] && return 0
        sleep 0.1
    done
    echo "  still working in $1: $(processes_in "$1" | xargs -r ps -o pid=,comm= -p)"
    return 1
}

# wait_for_player DIR SECONDS: until the player is playing in DIR.
wait_for_player() {
    for _ in $(seq $(($2 * 10))); do
        [ -n "$(players_in "$1")" ] && return 0
        sleep 0.1
    done
    return 1
}

demo_running() {
    [ -n "$DEMO_PID" ] && kill -0 "$DEMO_PID" 2>/dev/null
}

# wait_for_window SECONDS: until the program has mapped its window.
wait_for_window() {
    local limit=$1
    for _ in $(seq $((limit * 10))); do
        xdotool search --onlyvisible --pid "$DEMO_PID" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}

press_escape() { xdotool keydown Escape; }
release_escape() { xdotool keyup Escape; }

# request_close: asks the window to close the way a window manager would.
request_close() { "${CLOSE_REQUEST_BIN:?}"; }

# ping_window SECONDS: pings the window the way a window manager does; true
# when the reply came within that time.
ping_window() { "${WM_PING_BIN:?}" "$1"; }

# grab_screen FILE: the whole X screen as a PNG.
grab_screen() {
    xwd -root -silent | convert xwd:- "$1"
}

# The sanitizers write their reports to standard error.
sanitizer_clean() {
    ! grep -qE 'ERROR: (Address|Leak)Sanitizer|runtime error:|SUMMARY: UndefinedBehaviorSanitizer' "$1"
}

# write_test_shader FILE: the quad's vertex colours with a black bar sweeping
# across a band near the bottom once a second, so successive frames differ.
write_test_shader() {
    cat >"$1" <<'GLSL'
#version 130
in vec4 v_color;
uniform vec2 u_res;
uniform float T;
out vec4 frag_color;
void main() {
    vec2 p = gl_FragCoord.xy / u_res;
    float bar = step(abs(p.x - fract(T)), 0.02) * step(abs(p.y - 0.25), 0.05);
    frag_color = vec4(mix(v_color.rgb, vec3(0.0), bar), 1.0);
}
GLSL
}

# write_gradient_shader FILE: each pixel's place in the picture as its
# colour: red grows to the right, green upwards (gl_FragCoord.xy / u_res).
write_gradient_shader() {
    cat >"$1" <<'GLSL'
#version 130
uniform vec2 u_res;
out vec4 frag_color;
void main() {
    frag_color = vec4(gl_FragCoord.xy / u_res, 0.0, 1.0);
}
GLSL
}

# pixel_rgb FILE X Y: "R G B" of one pixel, 0 to 255.
pixel_rgb() {
    convert "$1" -format "%[fx:round(255*p{$2,$3}.r)] %[fx:round(255*p{$2,$3}.g)] %[fx:round(255*p{$2,$3}.b)]" info:
}

# near_rgb "R G B" R G B [LEVELS]: every channel within LEVELS (default 40).
near_rgb() {
    local -a got=($1)
    local i want tolerance=${5:-40}
    for i in 0 1 2; do
        want=$((i == 0 ? $2 : i == 1 ? $3 : $4))
        [ $(( got[i] > want ? got[i] - want : want - got[i] )) -le "$tolerance" ] || return 1
    done
}

# picture_corners_are_the_gradient FILE X Y W H: the corners of the picture
# at X,Y (from the top left) of size WxH read (0,1), (1,1), (0,0) and (1,0)
# as red and green within 0.05, the way write_gradient_shader paints them.
picture_corners_are_the_gradient() {
    local file=$1 x=$2 y=$3 w=$4 h=$5 ok=0
    local right=$((x + w - 1)) bottom=$((y + h - 1))
    echo "  corners: $(pixel_rgb "$file" "$x" "$y") / $(pixel_rgb "$file" "$right" "$y") /" \
        "$(pixel_rgb "$file" "$x" "$bottom") / $(pixel_rgb "$file" "$right" "$bottom")"
    near_rgb "$(pixel_rgb "$file" "$x" "$y")" 0 255 0 13 || ok=1
    near_rgb "$(pixel_rgb "$file" "$right" "$y")" 255 255 0 13 || ok=1
    near_rgb "$(pixel_rgb "$file" "$x" "$bottom")" 0 0 0 13 || ok=1
    near_rgb "$(pixel_rgb "$file" "$right" "$bottom")" 255 0 0 13 || ok=1
    return $ok
}

# region_is_black FILE WxH+X+Y: every pixel of the region is black.
region_is_black() {
    local max
    max=$(convert "$1" -crop "$2" +repage -format "%[fx:maxima]" info:)
    awk -v m="$max" 'BEGIN { exit !(m < 0.01) }'
}

# pixels_differ A B: the two pictures differ in more than a few pixels.
pixels_differ() {
    local count
    # ImageMagick may print the count in exponent form (2.07e+06).
    count=$(compare -metric AE "$1" "$2" null: 2>&1 | cut -d' ' -f1)
    awk -v n="$count" 'BEGIN { exit !(n + 0 > 100) }'
}

same_picture() { ! pixels_differ "$1" "$2"; }

# picture_moves: the screen changes within a few seconds (slow frames allowed).
picture_moves() {
    grab_screen "$WORK/moves0.png"
    for i in 1 2 3 4 5 6; do
        sleep 0.4
        grab_screen "$WORK/moves$i.png"
        pixels_differ "$WORK/moves0.png" "$WORK/moves$i.png" && return 0
    done
    return 1
}

# wait_for_picture SECONDS FILE: grabs the screen into FILE until it shows a
# picture (the first frame can take a while on a busy machine).
wait_for_picture() {
    for _ in $(seq $(($1 * 2))); do
        grab_screen "$2"
        shows_a_picture "$2" >/dev/null && return 0
        sleep 0.5
    done
    return 1
}

# picture_still: the screen stays the same for a second.
picture_still() {
    grab_screen "$WORK/still0.png"
    sleep 1
    grab_screen "$WORK/still1.png"
    same_picture "$WORK/still0.png" "$WORK/still1.png"
}

# picture_stops SECONDS: until the screen stays the same for a second: the
# frame loop has ended and its last frame is up.
picture_stops() {
    local deadline=$(($(date +%s) + $1))
    until picture_still; do
        [ "$(date +%s)" -lt "$deadline" ] || return 1
    done
}

# shows_a_picture FILE: neither black nor the dark red clear colour nor flat.
shows_a_picture() {
    local -a stats
    stats=($(convert "$1" -format "%[fx:mean] %[fx:standard_deviation] %[fx:mean.r] %[fx:mean.g] %[fx:mean.b]" info:))
    echo "  mean ${stats[0]} deviation ${stats[1]} rgb ${stats[2]} ${stats[3]} ${stats[4]}"
    awk -v m="${stats[0]}" -v sd="${stats[1]}" -v r="${stats[2]}" -v g="${stats[3]}" -v b="${stats[4]}" \
        'BEGIN { clear = (r > 0.45 && r < 0.55 && g < 0.02 && b < 0.02);
                 exit !(m > 0.02 && sd > 0.02 && !clear) }'
}

stdout_of() { cat "$DEMO_DIR/stdout"; }
stderr_of() { cat "$DEMO_DIR/stderr"; }
