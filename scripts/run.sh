#!/usr/bin/env bash
# Installs what is missing, builds, and opens Velkora on the sample board (or on the files given).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/build.sh
if [ $# -eq 0 ]; then
    set -- build/sample.vlk
fi
exec build/velkora "$@"
