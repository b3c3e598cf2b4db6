#!/usr/bin/env bash
# Installs what is missing, checks the formatting, builds, and runs every test. Tests run on the
# offscreen platform; the whole run sits under one Xvfb display for the tests that need a real X
# server.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/check-format.sh
scripts/build.sh
exec xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --test-dir build --output-on-failure --parallel "$(nproc)" "$@"
