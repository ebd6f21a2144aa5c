# The web page's zip: its name, one top directory holding the built page's
# files and nothing else, small enough for any static host.
source "$(dirname "$0")/../e2e/harness.sh"
source "$(dirname "$0")/release.sh"
: "${TESSARY_WEB_DIR:?TESSARY_WEB_DIR must name the built page}"

make_package ZIP "$WORK/packages"
name="tessary-$TESSARY_VERSION-web"
zip="$WORK/packages/$name.zip"
check "the zip is named $name.zip" [ -f "$zip" ]
[ -f "$zip" ] || finish

mkdir -p "$WORK/unpacked"
(cd "$WORK/unpacked" && cmake -E tar xf "$zip")
check "everything lies in $name/" [ "$(ls "$WORK/unpacked")" = "$name" ]
page="$WORK/unpacked/$name"
expected="font_subset_bw_sdf.jpg glsl_es.js icon.png index.html music.opus tessary.css tessary.glsl tessary.js"
check "it holds the page's files and nothing else (got: $(ls "$page" | tr '\n' ' '))" \
    [ "$(ls "$page" | tr '\n' ' ')" = "$expected " ]
for file in $expected; do
    check "$file is the built one" same_files "$TESSARY_WEB_DIR/$file" "$page/$file"
done
check "tessary.glsl is the show's own" same_files "$TESSARY_DATA/tessary.glsl" "$page/tessary.glsl"
bytes=$(cat "$page"/* | wc -c)
check "the page is under 2.5 MB ($bytes bytes)" [ "$bytes" -lt 2500000 ]
finish
