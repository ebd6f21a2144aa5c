# The Debian package: its control fields and file list, lintian, and the
# show run from the package unpacked into a throw-away root, through a
# symbolic link to its launcher.
source "$(dirname "$0")/../e2e/harness.sh"
source "$(dirname "$0")/release.sh"
need_tool dpkg-shlibdeps dpkg-dev
need_tool lintian lintian

make_package DEB "$WORK/packages"
arch=$(dpkg --print-architecture)
deb="$WORK/packages/tessary_${TESSARY_VERSION}_$arch.deb"
check "package file is named tessary_${TESSARY_VERSION}_$arch.deb" [ -f "$deb" ]
[ -f "$deb" ] || finish

field() { dpkg-deb -f "$deb" "$1"; }
check "Package: tessary" [ "$(field Package)" = tessary ]
check "Version is the project's ($TESSARY_VERSION)" [ "$(field Version)" = "$TESSARY_VERSION" ]
check "Architecture: $arch" [ "$(field Architecture)" = "$arch" ]
check "Maintainer is a name and an address" grep -qE '^[^<>]+ <[^<>@ ]+@[^<>@ ]+>$' <<<"$(field Maintainer)"
check "Section and Priority are set" [ -n "$(field Section)" -a "$(field Priority)" = optional ]
description=$(field Description)
check "Description has a summary and a long text" [ "$(wc -l <<<"$description")" -ge 4 ]
depends=$(field Depends)
echo "  Depends: $depends"
root="$WORK/deb root"
mkdir -p "$root"
dpkg-deb -x "$deb" "$root"
check "Depends covers the program's libraries, libGL and pw-play" lists_every_package "$depends" \
    $(program_packages "$root/usr/lib/tessary/tessary") libgl1 pipewire-bin
check "Depends covers tessary-capture's libraries" lists_every_package "$depends" \
    $(program_packages "$root/usr/bin/tessary-capture")

# Exactly these files, owned by root, in /usr only.
dpkg-deb -c "$deb" >"$WORK/contents"
awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $6 }' "$WORK/contents" | sort >"$WORK/files"
sort >"$WORK/expected" <<'LIST'
usr/bin/tessary
usr/bin/tessary-capture
usr/lib/tessary/tessary
usr/share/applications/tessary.desktop
usr/share/doc/tessary/changelog.gz
usr/share/doc/tessary/copyright
usr/share/icons/hicolor/256x256/apps/tessary.png
usr/share/man/man1/tessary-capture.1.gz
usr/share/man/man6/tessary.6.gz
usr/share/tessary/font_subset_bw_sdf.jpg
usr/share/tessary/music.wav
usr/share/tessary/tessary.glsl
LIST
check "file list" diff -u "$WORK/expected" "$WORK/files"
check "every entry belongs to root:root" [ -z "$(awk '$2 != "root/root"' "$WORK/contents")" ]

# The copyright file, machine-readable, covers the font's licence.
copyright="$root/usr/share/doc/tessary/copyright"
check "copyright is in the machine-readable format" \
    grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$copyright"
check "copyright gives the font atlas the Bitstream Vera licence" \
    awk '/^Files:.*font_subset_bw_sdf\.jpg/ { f = 1 } f && /^License: Bitstream-Vera$/ { ok = 1 } /^$/ { f = 0 } END { exit !ok }' "$copyright"
check "copyright carries the licence's text" grep -q 'names not containing either the words "Bitstream"' "$copyright"
check "changelog's latest entry is this version" \
    [ "$(zcat "$root/usr/share/doc/tessary/changelog.gz" | head -n 1)" = "tessary ($TESSARY_VERSION) unstable; urgency=medium" ]

lintian --fail-on error,warning "$deb" >"$WORK/lintian.log" 2>&1
status=$?
sed 's/^/  lintian: /' "$WORK/lintian.log"
check "lintian: no errors or warnings (status $status)" [ "$status" -eq 0 ]

check "tessary-capture --version" [ "$("$root/usr/bin/tessary-capture" --version)" = "tessary-capture $TESSARY_VERSION" ]

start_display_and_audio
mkdir -p "$WORK/links"
ln -s "$root/usr/bin/tessary" "$WORK/links/tessary"
run_show_from_elsewhere deb "$WORK/links/tessary" "$root/usr/lib/tessary/tessary" "$root/usr/share/tessary"
finish
