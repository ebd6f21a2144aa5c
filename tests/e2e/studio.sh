# Helpers for tessary-studio's end-to-end tests, on top of harness.sh: there
# TESSARY_BIN is the studio. CAPTURE_BIN is tessary-capture, to compare with,
# AUDIO_OFFSET_BIN finds where a recording of the sink lies in the music, and
# WINDOW_PIXEL_BIN reads one pixel of a window.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"

: "${CAPTURE_BIN:?CAPTURE_BIN must name tessary-capture}"

studio_window() { xdotool search --onlyvisible --pid "$DEMO_PID" 2>/dev/null | head -n 1; }

# start_studio DIR [ARGS...]: the studio on DIR's files, run from DIR, with the
# pointer over its picture so that keys reach it.
start_studio() {
    local dir=$1
    shift
    start_demo "$dir" --data "$dir" "$@"
    wait_for_window 30 || return 1
    xdotool mousemove --window "$(studio_window)" 40 100
}

studio_key() { xdotool key --delay 50 "$@"; }

# grab_window FILE: the studio's window alone.
grab_window() {
    xwd -id "$(studio_window)" -silent | convert xwd:- "$1"
}

# window_pixel X Y: "R G B" of one pixel of the window, read straight off the
# display (quick enough to poll).
window_pixel() { "${WINDOW_PIXEL_BIN:?}" "$(studio_window)" "$1" "$2"; }

# wait_for_colour X Y R G B SECONDS: until the window's pixel (X, Y) shows
# that colour (the first frame of a slow start included).
wait_for_colour() {
    for _ in $(seq $(($6 * 10))); do
        near_rgb "$(window_pixel "$1" "$2")" "$3" "$4" "$5" && return 0
        sleep 0.1
    done
    return 1
}

# window_changes_from OLD NEW SECONDS: grabs the window into NEW until it
# differs from the picture OLD.
window_changes_from() {
    for _ in $(seq $(($3 * 4))); do
        grab_window "$2"
        pixels_differ "$1" "$2" && return 0
        sleep 0.25
    done
    return 1
}

# wait_for_line FILE PATTERN SECONDS: until FILE has a line matching
# PATTERN (grep -E).
wait_for_line() {
    local file=$1 pattern=$2 limit=$3
    for _ in $(seq $((limit * 20))); do
        grep -qE "$pattern" "$file" 2>/dev/null && return 0
        sleep 0.05
    done
    return 1
}

# wait_for_output PATTERN SECONDS: the studio's standard output has the line.
wait_for_output() { wait_for_line "$DEMO_DIR/stdout" "$@"; }

# screenshot_time: presses F12 and prints the T of the file it wrote.
screenshot_time() {
    local before
    before=$(grep -c 'wrote tessary-T' "$DEMO_DIR/stdout" 2>/dev/null)
    studio_key F12
    for _ in $(seq 200); do
        [ "$(grep -c 'wrote tessary-T' "$DEMO_DIR/stdout")" -gt "$before" ] && break
        sleep 0.05
    done
    grep -o 'wrote tessary-T[0-9.]*\.png' "$DEMO_DIR/stdout" | tail -n 1 | sed 's/wrote tessary-T\(.*\)\.png/\1/'
}

# capture_still DIR T SIZE FILE: tessary-capture's picture of DIR's files.
capture_still() {
    LD_PRELOAD=$DEMO_PRELOAD "$CAPTURE_BIN" --data "$1" --still "$2" --size "$3" -q -o "$4" >/dev/null 2>&1
}

# rmse A B: root mean square difference of two pictures, 0 to 1.
rmse() {
    compare -metric RMSE "$1" "$2" null: 2>&1 | sed -n 's/.*(\(.*\)).*/\1/p'
}

# below VALUE LIMIT: VALUE is a number below LIMIT.
below() { awk -v v="$1" -v l="$2" 'BEGIN { exit !(v != "" && v + 0 < l + 0) }'; }

# close_to A B TOLERANCE: |A - B| <= TOLERANCE.
close_to() { awk -v a="$1" -v b="$2" -v t="$3" 'BEGIN { d = a - b; if (d < 0) d = -d; exit !(a != "" && b != "" && d <= t) }'; }

# write_solid_shader FILE R G B: every pixel one colour.
write_solid_shader() {
    cat >"$1" <<GLSL
#version 130
out vec4 frag_color;
void main() {
    frag_color = vec4($2, $3, $4, 1.0);
}
GLSL
}

# save_by_rename FILE: writes standard input beside FILE, then renames it over
# FILE, as editors that save safely do.
save_by_rename() {
    cat >"$1.saving"
    mv "$1.saving" "$1"
}

# wait_for_stderr_line PATTERN SECONDS: the same for standard error.
wait_for_stderr_line() { wait_for_line "$DEMO_DIR/stderr" "$@"; }
