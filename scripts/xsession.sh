#!/usr/bin/env bash
# Runs a command in an X server of its own with openbox as the window manager, the desktop the
# soak scripts drive the program on. The X server and the window manager end with the command.
set -euo pipefail
if [ -z "${VELKORA_XSESSION:-}" ]; then
    export VELKORA_XSESSION=1
    exec xvfb-run -a -s "-screen 0 1600x1000x24" "$0" "$@"
fi
openbox --config-file "$(dirname "$0")/openbox-rc.xml" >/dev/null 2>&1 &
openbox_pid=$!
trap 'kill "$openbox_pid" 2>/dev/null || true' EXIT
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
    sleep 0.1
done
status=0
"$@" || status=$?
exit "$status"
