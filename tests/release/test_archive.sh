# The party archive: its name, what it holds, its info file and screenshot,
# and the show run from it after unpacking into a directory with a space in
# its name, started from elsewhere.
source "$(dirname "$0")/../e2e/harness.sh"
source "$(dirname "$0")/release.sh"
need_tool dpkg-shlibdeps dpkg-dev

make_package TGZ "$WORK/packages"
name="tessary-$TESSARY_VERSION-linux-x86_64"
archive="$WORK/packages/$name.tar.gz"
check "archive is named $name.tar.gz" [ -f "$archive" ]
[ -f "$archive" ] || finish

# Everything in one top directory, readable (and where needed runnable) by anyone.
tar tzvf "$archive" >"$WORK/contents"
check "everything lies under $name/" [ -z "$(awk -v top="$name/" 'index($6, top) != 1' "$WORK/contents")" ]
check "everything is readable by anyone" [ -z "$(awk '$1 !~ /^.r..r..r/' "$WORK/contents")" ]
check "directories and programs can be entered and run by anyone" \
    [ -z "$(awk '($1 ~ /^d/ || $6 ~ /\/(bin|lib\/tessary)\/tessary$/) && $1 !~ /^.r.xr.xr.x/' "$WORK/contents")" ]

unpacked="$WORK/party dir"
mkdir -p "$unpacked"
tar xzf "$archive" -C "$unpacked"
top="$unpacked/$name"
for file in bin/tessary lib/tessary/tessary share/tessary/tessary.glsl share/tessary/font_subset_bw_sdf.jpg \
    share/tessary/music.wav share/doc/tessary/copyright tessary.txt screenshot.png; do
    check "holds $file" [ -f "$top/$file" ]
done
check "holds no tools or desktop files" [ ! -e "$top/bin/tessary-capture" -a ! -e "$top/share/applications" ]
for file in tessary.glsl font_subset_bw_sdf.jpg music.wav; do
    check "$file is the built one" same_files "$TESSARY_DATA/$file" "$top/share/tessary/$file"
done

# The info file.
info="$top/tessary.txt"
check "info file is plain ASCII text" [ -z "$(LC_ALL=C grep -n '[^[:print:][:space:]]' "$info")" ]
check "info file: title and version" grep -qE "T +E +S +S +A +R +Y +$TESSARY_VERSION" "$info"
check "info file: credits for code" grep -q 'HEXEL' "$info"
check "info file: credits for the soundtrack" grep -q 'QUADRILLE' "$info"
check "info file: how to run" grep -q './bin/tessary' "$info"
check "info file: keys" grep -q 'Escape' "$info"
check "info file: platform" grep -q 'OpenGL 3.2' "$info"
check "info file lists the program's libraries, libGL and pw-play by package" \
    lists_every_package "$(cat "$info")" $(program_packages "$top/lib/tessary/tessary") libgl1 pipewire-bin
listed=$(awk '/^  FILES/ { f = 1; next } /^  [A-Z]/ { f = 0 } f && NF { print $1 }' "$info")
check "info file lists files" [ -n "$listed" ]
for file in $listed; do
    check "info file's $file is in the archive" [ -e "$top/$file" ]
done

check "screenshot is 1280x720" [ "$(identify -format '%wx%h' "$top/screenshot.png")" = 1280x720 ]
check "screenshot shows the show" shows_a_picture "$top/screenshot.png"

start_display_and_audio
run_show_from_elsewhere archive "$top/bin/tessary" "$top/lib/tessary/tessary" "$top/share/tessary"
finish
