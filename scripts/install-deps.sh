#!/usr/bin/env bash
# Installs, when missing, every Debian package that building, running and testing Velkora need.
# With --fuzz also clang, libFuzzer and the symbolizer that scripts/fuzz.sh needs; nothing else
# needs them.
set -euo pipefail

packages=(
    # build
    cmake g++ make ccache pkg-config help2man
    qtbase5-dev qtbase5-private-dev qtbase5-dev-tools qttools5-dev-tools
    libqt5svg5-dev libqt5x11extras5-dev
    libx11-dev libxcb1-dev libxcb-shape0-dev libxcb-xinput-dev libxcb-xfixes0-dev
    libdevil-dev libdeflate-dev libjpeg-dev libseccomp-dev libsodium-dev libsqlite3-dev
    # scripts/check-format.sh and scripts/tidy.sh
    clang-format clang-tidy
    # image plugins the program loads at run time
    kimageformat-plugins qt5-image-formats-plugins
    # tests that need a real X server
    xvfb xauth openbox xdotool x11-utils x11-xserver-utils dbus-daemon
    # scripts/soak.sh and scripts/instances.sh: their driver and the clipboard they read
    python3 xclip
    # the installation test: checkers of desktop files and the file type database
    desktop-file-utils libxml2-utils appstream shared-mime-info xdg-utils libfile-mimeinfo-perl
    # scripts/package.sh: cpack finds the packages the binaries need with these
    dpkg-dev file
)
if [ "${1:-}" = "--fuzz" ]; then
    packages+=(clang libclang-rt-dev llvm)
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
