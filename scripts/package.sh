#!/usr/bin/env bash
# Installs what is missing, builds Velkora into build/ and makes a Debian package of it there:
# build/velkora_<version>_<architecture>.deb, which "apt install ./build/velkora_*.deb" installs.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/build.sh
cd build
cpack -G DEB
