# Every message the program prints on a failure it can be driven into, with
# its stream and its exit status.
source "$(dirname "$0")/harness.sh"
start_display

# expect_run NAME STATUS STDOUT STDERR [ARGS...]: runs the program in dir NAME
# and compares status and both streams exactly ('*' skips a stream).
expect_run() {
    local name=$1 status=$2 out=$3 err=$4
    shift 4
    run_demo "$WORK/$name" 30 "$@"
    check "$name: exit status $status (got $DEMO_STATUS)" [ "$DEMO_STATUS" -eq "$status" ]
    if [ "$out" != '*' ]; then
        check "$name: standard output" [ "$(stdout_of; echo x)" = "${out}x" ]
    fi
    if [ "$err" != '*' ]; then
        check "$name: standard error" [ "$(stderr_of; echo x)" = "${err}x" ]
    fi
    check "$name: no sanitizer report" sanitizer_clean "$DEMO_DIR/stderr"
}

progress_line() { printf 'Input: Read %d/%d bytes\n' "$1" "$1"; }

# Missing atlas: no line end, on standard output, status 255.
dir=$(make_data_dir no_atlas)
rm "$dir/font_subset_bw_sdf.jpg"
expect_run no_atlas 255 'FAILED to stat source jpg' ''

# An atlas of that name that can't be read.
dir=$(make_data_dir atlas_dir)
rm "$dir/font_subset_bw_sdf.jpg"
mkdir "$dir/font_subset_bw_sdf.jpg"
expect_run atlas_dir 255 '' $'Failed to read font_subset_bw_sdf.jpg: Is a directory\n'

# An atlas that isn't a JPEG: libjpeg's own message, status 1.
dir=$(make_data_dir atlas_text)
echo "not a picture" >"$dir/font_subset_bw_sdf.jpg"
expect_run atlas_text 1 "$(progress_line 14)"$'\n' $'Not a JPEG file: starts with 0x6e 0x6f\n'

# A CMYK atlas can't become RGB.
dir=$(make_data_dir atlas_cmyk)
convert -size 16x16 xc:orange -colorspace CMYK "$dir/font_subset_bw_sdf.jpg"
expect_run atlas_cmyk 1 '*' $'Unsupported color conversion request\n'

# Missing shader: the atlas was read first.
dir=$(make_data_dir no_shader)
rm "$dir/tessary.glsl"
atlas_size=$(stat -c %s "$dir/font_subset_bw_sdf.jpg")
expect_run no_shader 1 "$(progress_line "$atlas_size")"$'\n' $'Failed to open shader file.\n'

# A shader that doesn't compile; the arguments change nothing.
dir=$(make_data_dir bad_shader)
printf '#version 130\nvoid main() { this is not glsl }\n' >"$dir/tessary.glsl"
expect_run bad_shader 1 '*' $'fragment shader compilation failed\n' --help -v

# A shader that compiles but doesn't link: a function declared, never defined.
dir=$(make_data_dir no_link)
cat >"$dir/tessary.glsl" <<'GLSL'
#version 130
out vec4 frag_color;
vec4 never_defined();
void main() { frag_color = never_defined(); }
GLSL
expect_run no_link 1 '*' $'shader program linking failed\n'

# No display at all.
dir=$(make_data_dir no_display)
saved_display=$DISPLAY
unset DISPLAY
expect_run no_display 1 '' '*'
check "no_display: names the step" grep -q '^Failed to initialise SDL video: ' "$DEMO_DIR/stderr"
export DISPLAY=$saved_display

# A GL that can't give a 3.2 core context.
dir=$(make_data_dir old_gl)
MESA_GL_VERSION_OVERRIDE=3.1 run_demo "$dir" 30
check "old_gl: status 1" [ "$DEMO_STATUS" -eq 1 ]
check "old_gl: names the step" grep -q '^Failed to create an OpenGL 3.2 core context: ' "$DEMO_DIR/stderr"
check "old_gl: one line" [ "$(wc -l <"$DEMO_DIR/stderr")" -eq 1 ]

# A fork that fails: an unprivileged user allowed no second process. The GL
# driver is kept to one thread so that only the fork hits the limit. The leak
# check needs a process of its own, which the limit forbids, so it is off for
# this one run.
if [ "$(id -u)" -eq 0 ]; then
    dir=$(make_data_dir fork_fails)
    cp "$TESSARY_BIN" "$dir/tessary"
    chmod 755 "$WORK" "$dir"
    chmod 644 "$dir"/*
    chmod 755 "$dir/tessary"
    (cd "$dir" && LP_NUM_THREADS=0 LD_PRELOAD=$DEMO_PRELOAD ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0" \
        setpriv --reuid=65534 --regid=65534 --clear-groups \
        bash -c 'ulimit -u 1 && exec ./tessary' >stdout 2>stderr)
    status=$?
    DEMO_DIR=$dir
    check "fork_fails: status 1 (got $status)" [ "$status" -eq 1 ]
    check "fork_fails: libc's line for fork" [ "$(stderr_of)" = "fork: Resource temporarily unavailable" ]
    check "fork_fails: no sanitizer report" sanitizer_clean "$dir/stderr"
else
    echo "skipped: a failing fork needs root to become an unprivileged user"
fi

finish
