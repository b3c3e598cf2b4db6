#!/usr/bin/env bash
# Unpacks the Raleway fonts (SIL Open Font License) from the npm registry into the build tree.
# A failure only warns: the program builds and runs without them, with the default font.
set -uo pipefail

target=${1:?usage: fetch-fonts.sh TARGET_DIR}
package="@expo-google-fonts/raleway@0.4.2"
wanted=(500Medium/Raleway_500Medium.ttf 700Bold/Raleway_700Bold.ttf LICENSE_FONT)

have_all=1
for file in "${wanted[@]}"; do
    [ -f "$target/$(basename "$file")" ] || have_all=0
done
[ "$have_all" -eq 1 ] && exit 0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if ! (cd "$work" && npm pack --silent "$package" >/dev/null 2>&1); then
    echo "warning: could not fetch $package; building with the default font" >&2
    exit 0
fi
mkdir -p "$target"
tar -xzf "$work"/*.tgz -C "$work"
for file in "${wanted[@]}"; do
    cp "$work/package/$file" "$target/"
done
