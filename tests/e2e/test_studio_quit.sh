# Escape, a window-close request and SIGTERM each end the studio, its audio
# stream gone with it: the first two with status 0, the signal with 143;
# without an audio device it runs silently and says so once; bad command
# lines and missing files get one line.
source "$(dirname "$0")/studio.sh"
start_display_and_audio

dir=$(make_data_dir quit)
write_test_shader "$dir/tessary.glsl"

# studio_streams PID: the PipeWire nodes that process plays through.
studio_streams() { pw-dump 2>/dev/null | grep -c "\"application.process.id\": \"\?$1\"\?" ; }
# streams_become PID COUNT SECONDS: until the process has that many streams (0, or 1 and more).
streams_become() {
    local n
    for _ in $(seq $(($3 * 5))); do
        n=$(studio_streams "$1")
        [ "$2" -eq 0 ] && [ "$n" -eq 0 ] && return 0
        [ "$2" -gt 0 ] && [ "$n" -ge "$2" ] && return 0
        sleep 0.2
    done
    return 1
}

for how in escape close term; do
    status=0
    [ "$how" = term ] && status=143
    check "$how: window appears" start_studio "$dir"
    pid=$DEMO_PID
    check "$how: the studio plays through PipeWire" streams_become "$pid" 1 20
    case $how in
        escape) studio_key Escape ;;
        close) check "$how: request delivered" request_close ;;
        term) kill -TERM "$pid" ;;
    esac
    wait_demo 20
    check "$how: exit status $status (got $DEMO_STATUS)" [ "$DEMO_STATUS" -eq "$status" ]
    check "$how: nothing of its process group is left" [ -z "$(pgrep -g "$pid")" ]
    check "$how: its audio stream is gone" streams_become "$pid" 0 5
    check "$how: no sanitizer report" sanitizer_clean "$dir/stderr"
done

# No audio device: PipeWire is not where the studio looks.
mkdir -m 700 "$WORK/nowhere"
XDG_RUNTIME_DIR=$WORK/nowhere SDL_AUDIODRIVER=pipewire check "no device: window appears" start_studio "$dir"
check "no device: says it runs silently" wait_for_stderr_line 'running silently' 20
check "no device: the picture still moves" picture_moves
check "no device: said once" [ "$(grep -c 'running silently' "$dir/stderr")" -eq 1 ]
studio_key Escape
wait_demo 20
check "no device: exit status 0 (got $DEMO_STATUS)" [ "$DEMO_STATUS" -eq 0 ]
cp "$dir/stderr" "$WORK/no_device.stderr"

# expect_failure STATUS MESSAGE ARGS...: one line on standard error, that status.
expect_failure() {
    local status=$1 message=$2
    shift 2
    run_demo "$dir" 20 "$@"
    check "$*: status $status (got $DEMO_STATUS)" [ "$DEMO_STATUS" -eq "$status" ]
    check "$*: one line naming the fault" one_line_saying "$message" "$dir/stderr"
}
one_line_saying() { [ "$(wc -l <"$2")" -eq 1 ] && grep -q -- "$1" "$2"; }
expect_failure 2 'unknown option --bogus' --bogus
expect_failure 2 '--at needs seconds from 0 to 130' --at 131
expect_failure 2 '--at needs seconds' --at nan
expect_failure 2 '--size needs WxH' --size 1280
mkdir "$WORK/empty"
expect_failure 1 'missing run-time file tessary.glsl' --data "$WORK/empty"
run_demo "$dir" 20 --help
check "--help lists the keys" grep -q 'Page Up / Page Down' "$dir/stdout"
finish
