# Helpers for the release tests, sourced after the end-to-end harness. They
# run the installed or unpacked show through its launcher, the way a user
# would, and look at what the packages hold.
#
# Expects TESSARY_BUILD_DIR (the build tree) and TESSARY_VERSION (the
# project's version) in the environment; ctest sets both.

: "${TESSARY_BUILD_DIR:?TESSARY_BUILD_DIR must name the build tree}"
: "${TESSARY_VERSION:?TESSARY_VERSION must give the project version}"

# need_tool PROGRAM PACKAGE: the packaging tests cannot do without these.
need_tool() {
    command -v "$1" >/dev/null && return 0
    echo "FAIL: $1 is not installed (Debian package $2); the release tests need it"
    exit 1
}

# make_package GENERATOR DIR: runs CPack for the build tree into DIR.
make_package() {
    mkdir -p "$2"
    if ! cpack --config "$TESSARY_BUILD_DIR/CPackConfig.cmake" -G "$1" -B "$2" >"$2/cpack.log" 2>&1; then
        cat "$2/cpack.log"
        fail "cpack -G $1"
        finish
    fi
}

# program_packages PROGRAM: the Debian packages of the shared libraries
# PROGRAM is linked against, one per line (this architecture's only).
program_packages() {
    local multiarch lib
    multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
    for lib in $(objdump -p "$1" | awk '$1 == "NEEDED" { print $2 }'); do
        dpkg -S "*/$lib" 2>/dev/null | grep "/$multiarch/$lib\$" | cut -d: -f1
    done | sort -u
}

# lists_every_package TEXT PACKAGE...: each package appears in TEXT as a word.
lists_every_package() {
    local text=$1 package missing=0
    shift
    for package in "$@"; do
        if ! grep -qE "(^|[ ,])$(printf '%s' "$package" | sed 's/[.+]/\\&/g')([ ,(]|\$)" <<<"$text"; then
            echo "  not listed: $package"
            missing=1
        fi
    done
    return $missing
}

# same_files A B: byte for byte.
same_files() { cmp -s "$1" "$2"; }

# exe_of PID, cwd_of PID: the executable and working directory of a process.
exe_of() { readlink "/proc/$1/exe"; }
cwd_of() { readlink "/proc/$1/cwd"; }

# run_show_from_elsewhere NAME LAUNCHER PROGRAM DATA: starts LAUNCHER from a
# fresh, empty directory with a 3-second test tone in place of the
# soundtrack, and checks that it hands over to PROGRAM (same process, so
# the status and signals are the program's) running in DATA, that the show
# comes up, and that Escape ends it with status 0.
run_show_from_elsewhere() {
    local name=$1 launcher=$2 program=$3 data=$4
    local elsewhere="$WORK/elsewhere for $name"
    mkdir -p "$elsewhere"
    make_music "$data/music.wav" 3

    TESSARY_BIN=$launcher start_demo "$elsewhere"
    check "$name: window appears" wait_for_window 30
    check "$name: the launcher became the program" [ "$(exe_of "$DEMO_PID")" = "$(readlink -f "$program")" ]
    check "$name: the program runs in the data directory" [ "$(cwd_of "$DEMO_PID")" = "$(readlink -f "$data")" ]
    check "$name: the show is on screen" wait_for_picture 60 "$WORK/$name.png"
    press_escape
    release_escape
    wait_demo 60
    check "$name: exit status 0 (got $DEMO_STATUS)" [ "$DEMO_STATUS" -eq 0 ]
    check "$name: completion line" grep -qx 'The child process has completed its execution.' "$elsewhere/stdout"
    check "$name: nothing written where it was started" \
        [ "$(ls -A "$elsewhere" | sort | tr '\n' ' ')" = "stderr stdout " ]
}
