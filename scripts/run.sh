#!/usr/bin/env bash
# Installs what is missing, builds, and opens Velkora.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/build.sh
exec build/velkora "$@"
