#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks the tree as a desktop reads it: every
# file in its place, the desktop entry, file type and metainfo accepted by the desktop's own
# checkers, a board (also one renamed to .bin) known by its type through the file type database
# of the tree, and the installed programs running from it.
#   check-install.sh CMAKE BUILD_DIR BOARD
set -euo pipefail

cmake=$1
build=$2
board=$3
id=io.github.velkora.Velkora

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

"$cmake" --install "$build" --prefix "$prefix" >/dev/null

files=(
    bin/velkora bin/velkora-thumbnailer libexec/velkora/velkora-decoder
    "share/applications/$id.desktop" "share/metainfo/$id.metainfo.xml"
    "share/mime/packages/$id.xml" share/thumbnailers/velkora.thumbnailer
    "share/icons/hicolor/scalable/apps/$id.svg" share/man/man1/velkora.1
)
for file in "${files[@]}"; do
    [ -s "$prefix/$file" ] || fail "$file is not installed"
done
for size in 16 22 24 32 48 64 128 256 512; do
    icon=$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png
    file -b "$icon" | grep -q "PNG image data, $size x $size" || fail "no $size x $size icon"
done
grep -q '^\.TH VELKORA "1"' "$prefix/share/man/man1/velkora.1" || fail "the manual page has no title"
grep -q 'NAMED COMMANDS' "$prefix/share/man/man1/velkora.1" || fail "the manual page lacks the commands"

desktop-file-validate "$prefix/share/applications/$id.desktop"
xmllint --noout "$prefix/share/mime/packages/$id.xml"
appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" >/dev/null \
    || appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml"
grep -qx 'Exec=velkora %F' "$prefix/share/applications/$id.desktop" || fail "Exec takes no files"

# The type database of the tree alone decides: no desktop session picks another tool.
update-mime-database "$prefix/share/mime"
cp "$board" "$work/board.vlk"
cp "$board" "$work/board.bin"
for file in board.vlk board.bin; do
    type=$(env -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION -u KDE_FULL_SESSION \
        -u GNOME_DESKTOP_SESSION_ID XDG_DATA_HOME="$prefix/share" \
        xdg-mime query filetype "$work/$file")
    [ "$type" = application/x-velkora-board ] || fail "$file is of type $type"
done

"$prefix/bin/velkora" --version | grep -q '^Velkora ' || fail "the program does not run"
"$prefix/bin/velkora-thumbnailer" -s 64 "$work/board.bin" "$work/thumbnail.png"
file -b "$work/thumbnail.png" | grep -q 'PNG image data, 64 x' || fail "no thumbnail"
echo "install tree: all checks passed"
