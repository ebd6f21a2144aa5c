# scripts/setup names what is missing the way the build would miss it, and
# stops with the packages to install where it can't install them itself. It
# never gets as far as building in these runs: --check, or a missing need.
set -u
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
WORK=$(mktemp -d /tmp/tessary-setup.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
FAILURES=0
check() {
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; FAILURES=$((FAILURES + 1)); fi
}

# bin_without NAME...: a directory of links to every command on PATH but
# those. The first directory on PATH wins, as it would for the shell.
bin_without() {
    local dir=$WORK/bin-$RANDOM dir_on_path name
    mkdir -p "$dir"
    local IFS=:
    for dir_on_path in $PATH; do
        [ -d "$dir_on_path" ] && ln -s "$dir_on_path"/* "$dir"/ 2>/dev/null
    done
    unset IFS
    for name in "$@"; do rm -f "$dir/$name"; done
    echo "$dir"
}

# setup [ENV...] -- ARGS...: runs scripts/setup, output to $WORK/out, status in STATUS.
setup() {
    local -a environment=()
    while [ "$1" != "--" ]; do environment+=("$1"); shift; done
    shift
    env "${environment[@]}" bash "$ROOT/scripts/setup" "$@" >"$WORK/out" 2>&1
    STATUS=$?
}
said() { grep -qF -- "$1" "$WORK/out"; }

setup -- --tests --check
check "complete machine: status 0 (got $STATUS)" [ "$STATUS" -eq 0 ]
check "complete machine: nothing reported missing" bash -c "! grep -q Missing '$WORK/out'"

bin=$(bin_without xdotool sox)
setup PATH="$bin" -- --tests --check
check "missing commands: status 1 (got $STATUS)" [ "$STATUS" -eq 1 ]
check "missing commands: xdotool is named with its package" said "command xdotool"
check "missing commands: sox is named" said "command sox"
check "missing commands: the packages to install" said "apt-get install sox xdotool"
check "missing commands: nothing else reported" [ "$(grep -c '(package' "$WORK/out")" -eq 2 ]

setup PATH="$bin" -- --check
check "demo only: the test tools are not asked for (got $STATUS)" [ "$STATUS" -eq 0 ]

# pkg-config finds no modules: every library is named by its module.
setup PKG_CONFIG_LIBDIR=/nonexistent PKG_CONFIG_PATH= -- --check
check "no libraries: status 1 (got $STATUS)" [ "$STATUS" -eq 1 ]
check "no libraries: SDL2 named" said "pkgconfig sdl2"
check "no libraries: libebur128 named" said "(package libebur128-dev)"

# Without apt-get nothing can be installed: the packages are printed instead.
bin=$(bin_without xdotool apt-get)
setup PATH="$bin" -- --tests
check "no apt-get: status 1 (got $STATUS)" [ "$STATUS" -eq 1 ]
check "no apt-get: says so and names the package" said "no apt-get. Install the equivalents of these Debian packages: xdotool"

# A machine that has everything, kept where other systems keep it: the font
# in /usr/share/fonts/TTF (Arch), Mesa's drivers in /usr/lib64/dri (Fedora).
# In a mount namespace of its own, Debian's places are emptied and the files
# put there instead; setup asks the system, not Debian's paths.
debian_dri=$(dirname "$(compgen -G '/usr/lib/*/dri/swrast_dri.so' | head -n 1)")
debian_font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
if [ "$(id -u)" -eq 0 ] && unshare --mount true 2>/dev/null && [ -f "$debian_dri/swrast_dri.so" ] &&
    [ -f "$debian_font" ]; then
    mkdir -p "$WORK/fonts/TTF" "$WORK/lib64"
    cp "$debian_font" "$WORK/fonts/TTF/"
    cp -a /usr/lib64/. "$WORK/lib64/"
    mkdir -p "$WORK/lib64/dri"
    bin=$(bin_without apt-get)
    unshare --mount bash -euc '
        mount --bind "$1" "$2/lib64/dri"
        mount --rbind "$2/lib64" /usr/lib64
        mount -t tmpfs none "$1"
        mount --bind "$2/fonts" /usr/share/fonts
        PATH=$3 bash "$4/scripts/setup" --tests --check' \
        - "$debian_dri" "$WORK" "$bin" "$ROOT" >"$WORK/out" 2>&1
    STATUS=$?
    check "elsewhere: status 0 (got $STATUS)" [ "$STATUS" -eq 0 ]
    check "elsewhere: nothing reported missing" bash -c "! grep -q Missing '$WORK/out'"
    [ "$STATUS" -eq 0 ] || sed "s/^/  | /" "$WORK/out"
else
    echo "skipped: moving the font and Mesa's drivers needs root, mount namespaces and Debian's layout to start from"
fi

if [ "$(id -u)" -eq 0 ]; then
    # A user without sudo gets the command to run as root.
    # It runs a copy of the script: the checkout may sit where that user can't
    # read (a fresh clone in a mktemp -d directory is root's alone).
    bin=$(bin_without xdotool sudo)
    mkdir -p "$WORK/tree/scripts"
    cp "$ROOT/scripts/setup" "$WORK/tree/scripts/"
    chmod -R a+rX "$WORK" "$bin"
    env PATH="$bin" setpriv --reuid=65534 --regid=65534 --clear-groups \
        bash "$WORK/tree/scripts/setup" --tests >"$WORK/out" 2>&1
    STATUS=$?
    check "no sudo: status 1 (got $STATUS)" [ "$STATUS" -eq 1 ]
    check "no sudo: names the command for root" said "Not root and no sudo here. As root, run: apt-get install xdotool"
else
    echo "skipped: running as another user needs root"
fi

if [ "$FAILURES" -ne 0 ]; then
    echo "$FAILURES check(s) failed"
    cat "$WORK/out"
    exit 1
fi
echo "all checks passed"
