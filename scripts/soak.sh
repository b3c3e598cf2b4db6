#!/usr/bin/env bash
# Uses the real program for MINUTES as a person would, in an X server of its own (Xvfb with
# openbox), and checks every few minutes that it is alive and answers, that its heap and pixels
# on the same board stay put, that every board it saves and autosaves reads whole and holds what
# the live board holds, that no error dialog came and that every instance closes with status 0:
#   scripts/soak.sh MINUTES SEED [PROGRAM]     (PROGRAM defaults to build/velkora)
# The same SEED drives the same sequence of actions. Exits non-zero when a check failed; the
# temporary folder with the boards and the program's logs is then kept and named.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
if [ $# -lt 2 ] || [ $# -gt 3 ]; then
    echo "usage: scripts/soak.sh MINUTES SEED [PROGRAM]" >&2
    exit 2
fi
program="$(realpath "${3:-$here/../build/velkora}")"
# A crash leaves its core beside the program's logs in the kept folder (where the system's
# core pattern is a plain file name).
ulimit -c unlimited 2>/dev/null || true
exec "$here/xsession.sh" python3 "$here/soak.py" soak "$1" "$2" "$program"
