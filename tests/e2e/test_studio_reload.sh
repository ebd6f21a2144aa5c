# Saving the run-time files reloads them: a new shader shows within a second,
# a broken one leaves the last good picture under a panel with the driver's
# log, and a good save takes the panel away. The atlas and the music reload
# too, and so does a data folder replaced as a whole.
source "$(dirname "$0")/studio.sh"
start_display_and_audio

dir=$(make_data_dir reload)
write_solid_shader "$dir/tessary.glsl" 1.0 0.0 0.0
# A small window: reading it back off the display is the slow part of polling.
check "window appears" start_studio "$dir" --paused --size 640x360
check "starts red" wait_for_colour 320 280 255 0 0 20

# seconds_until_green START: polls the window until its middle turns green.
# The window is looked up once: each poll should cost one pixel read.
seconds_until_green() {
    local start=$1 window colour
    window=$(studio_window)
    for _ in $(seq 300); do
        colour=$("$WINDOW_PIXEL_BIN" "$window" 320 280)
        if near_rgb "$colour" 0 255 0; then
            awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }'
            return 0
        fi
        sleep 0.01
    done
    echo never
}
write_solid_shader /dev/stdout 0.0 1.0 0.0 | save_by_rename "$dir/tessary.glsl"
saved=$(date +%s.%N) # the rename has just put the new file in place
took=$(seconds_until_green "$saved")
check "a shader renamed over the old one shows within 1 s (took $took s)" below "$took" 1.0
grab_window "$WORK/green.png"

# Line 4 names something undeclared.
printf '#version 130\nout vec4 frag_color;\nvoid main() {\n    frag_color = vec4(no_such_colour, 1.0);\n}\n' \
    | save_by_rename "$dir/tessary.glsl"
check "the failure goes to standard error" wait_for_stderr_line 'no_such_colour' 5
check "a panel covers the top of the picture" window_changes_from "$WORK/green.png" "$WORK/broken.png" 10
check "a broken shader does not end the studio" demo_running
check "the last good picture stays" near_rgb "$(pixel_rgb "$WORK/broken.png" 320 300)" 0 255 0
check "standard error quotes the failing line" grep -q 'tessary.glsl:4: .*no_such_colour' "$dir/stderr"
# The panel is read as a person would: enlarged for OCR, dark text on light.
check "tesseract reads the panel (package tesseract-ocr)" command -v tesseract
convert "$WORK/broken.png" -crop 640x200+0+70 +repage -resize 300% -negate "$WORK/panel.png"
tesseract "$WORK/panel.png" "$WORK/panel" >/dev/null 2>&1
echo "  OCR of the panel: $(tr '\n' ' ' <"$WORK/panel.txt" | cut -c1-200)"
check "the panel shows the driver's error" grep -qi 'error' "$WORK/panel.txt"
check "the panel names line 4" grep -qE '(^|[^0-9])4([^0-9]|$)' "$WORK/panel.txt"

write_solid_shader "$dir/tessary.glsl" 0.0 0.0 1.0
check "a good save in place shows" wait_for_colour 320 300 0 0 255 10
check "and the panel is gone" wait_for_colour 100 160 0 0 255 10

# The atlas and the music are reloaded when the build writes them again.
cp "$dir/font_subset_bw_sdf.jpg" "$WORK/atlas.jpg"
save_by_rename "$dir/font_subset_bw_sdf.jpg" <"$WORK/atlas.jpg"
check "a new atlas is loaded" wait_for_output '^tessary-studio: reloaded font_subset_bw_sdf.jpg$' 5
echo "not a picture" >"$dir/font_subset_bw_sdf.jpg"
check "a broken atlas is refused" wait_for_stderr_line 'the previous atlas stays' 5
make_music "$WORK/tone.wav" 2
save_by_rename "$dir/music.wav" <"$WORK/tone.wav"
check "new music is loaded" wait_for_output '^tessary-studio: reloaded music.wav$' 5
check "and the studio still runs" demo_running

# A data folder replaced under its name (as some editors, git and sync tools
# do) is watched again. The studio's output files move with the old folder.
mv "$dir" "$dir.old"
DEMO_DIR=$dir.old
mkdir "$dir"
cp "$dir.old/font_subset_bw_sdf.jpg" "$dir.old/music.wav" "$dir/"
write_solid_shader "$dir/tessary.glsl" 1.0 0.0 0.0
check "a replaced data folder is watched again, and it says so" \
    wait_for_output '^tessary-studio: data folder replaced: reloaded all$' 5
check "the new folder's shader shows" wait_for_colour 320 300 255 0 0 10
write_solid_shader "$dir/tessary.glsl" 0.0 1.0 0.0
check "and its next save too" wait_for_colour 320 300 0 255 0 10

studio_key q
wait_demo 20
check "Q: exit status 0 (got $DEMO_STATUS)" [ "$DEMO_STATUS" -eq 0 ]
check "no sanitizer report" sanitizer_clean "$DEMO_DIR/stderr"
finish
