#!/usr/bin/env bash
# Two instances of the program copy and paste between each other COUNT times in an X server of
# their own; one of them is killed (SIGKILL) at random moments and started again. The other must
# never hang or crash, and a paste whose copier is gone gives the plain picture:
#   scripts/instances.sh COUNT SEED [PROGRAM]     (PROGRAM defaults to build/velkora)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
if [ $# -lt 2 ] || [ $# -gt 3 ]; then
    echo "usage: scripts/instances.sh COUNT SEED [PROGRAM]" >&2
    exit 2
fi
program="$(realpath "${3:-$here/../build/velkora}")"
exec "$here/xsession.sh" python3 "$here/soak.py" instances "$1" "$2" "$program"
