#!/usr/bin/env bash
# Installs what is missing, checks the formatting, builds, and runs every test. Tests run on the
# offscreen platform; the whole run sits under one Xvfb display for the tests that need a real X
# server. Without arguments the tests that end background work early then run again under the
# sanitizers (scripts/test-sanitized.sh), and the program is used for three minutes as a person
# would (scripts/soak.sh, with a fixed seed); arguments go to ctest and pick tests of the normal
# build only.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/check-format.sh
scripts/check-layers.sh
scripts/build.sh
status=0
xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --test-dir build --output-on-failure --parallel "$(nproc)" "$@" || status=$?
if [ $# -eq 0 ]; then
    scripts/test-sanitized.sh || status=$?
    scripts/soak.sh 3 20261209 build/velkora || status=$?
fi
exit "$status"
