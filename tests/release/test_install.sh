# cmake --install into a throw-away prefix: the launcher on PATH runs the
# show from any directory, the status passes through, and the installed
# tessary-capture renders the installed show without being told where it is.
source "$(dirname "$0")/../e2e/harness.sh"
source "$(dirname "$0")/release.sh"

prefix="$WORK/install prefix"
cmake --install "$TESSARY_BUILD_DIR" --prefix "$prefix" >"$WORK/install.log" 2>&1 || { cat "$WORK/install.log"; fail "cmake --install"; finish; }

data="$prefix/share/tessary"
for file in tessary.glsl font_subset_bw_sdf.jpg music.wav; do
    check "installed $file is the built one" same_files "$TESSARY_DATA/$file" "$data/$file"
done
check "the launcher is executable" [ -x "$prefix/bin/tessary" ]
check "the program sits in lib/tessary" [ -x "$prefix/lib/tessary/tessary" ]
check "no archive extras in an install" [ ! -e "$prefix/tessary.txt" -a ! -e "$prefix/screenshot.png" ]

# Desktop entry and icon.
desktop="$prefix/share/applications/tessary.desktop"
icon="$prefix/share/icons/hicolor/256x256/apps/tessary.png"
if command -v desktop-file-validate >/dev/null; then
    check "desktop entry validates" desktop-file-validate "$desktop"
else
    echo "  desktop-file-validate not installed (desktop-file-utils): the entry is only read here"
fi
check "desktop entry starts the launcher on PATH" grep -qx 'Exec=tessary' "$desktop"
check "desktop entry names the installed icon" grep -qx 'Icon=tessary' "$desktop"
check "icon is a 256x256 PNG" [ "$(identify -format '%m %wx%h' "$icon")" = "PNG 256x256" ]
check "icon shows the show" shows_a_picture "$icon"

# tessary-capture: its version, and the installed show as its default data.
capture="$prefix/bin/tessary-capture"
check "tessary-capture --version" [ "$("$capture" --version)" = "tessary-capture $TESSARY_VERSION" ]
mkdir -p "$WORK/capture elsewhere"
(cd "$WORK/capture elsewhere" && "$capture" --still 65 --size 64x64 -q -o installed.png && \
    "$capture" --data "$TESSARY_DATA" --still 65 --size 64x64 -q -o built.png) >"$WORK/capture.log" 2>&1
check "installed tessary-capture renders the installed show by default" \
    same_picture "$WORK/capture elsewhere/installed.png" "$WORK/capture elsewhere/built.png"

# The launcher with nothing to run: its own message, status 1.
mv "$data" "$data.away"
"$prefix/bin/tessary" >"$WORK/no-data.out" 2>&1
status=$?
check "missing data directory: status 1 (got $status)" [ "$status" -eq 1 ]
check "missing data directory is named" grep -qF "cannot enter the data directory $prefix/bin/../share/tessary" "$WORK/no-data.out"
mv "$data.away" "$data"

start_display_and_audio
run_show_from_elsewhere install "$prefix/bin/tessary" "$prefix/lib/tessary/tessary" "$data"

# A failing program's status comes back through the launcher unchanged.
mv "$data/font_subset_bw_sdf.jpg" "$WORK/atlas.jpg"
mkdir -p "$WORK/no atlas"
TESSARY_BIN="$prefix/bin/tessary" run_demo "$WORK/no atlas" 60
check "missing atlas: the program's status 255 comes through (got $DEMO_STATUS)" [ "$DEMO_STATUS" -eq 255 ]
finish
