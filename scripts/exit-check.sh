#!/usr/bin/env bash
# Ends the program by script while animations decode, as a user's load-export-exit script does:
#
#   scripts/exit-check.sh ROUNDS [PROGRAM] [FOLDER]
#
# Each round loads every picture of FOLDER (default: the animation seeds of fuzz/, each also cut
# short and with bytes overwritten in its middle, so that frames are damaged), one process a
# picture and then one process for all of them, exports the scene and exits. Prints every run
# that did not end with exit status 0 and exits non-zero when there was one.
set -euo pipefail
cd "$(dirname "$0")/.."

rounds=${1:?usage: $0 ROUNDS [PROGRAM] [FOLDER]}
program=$(realpath "${2:-build/velkora}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
pictures="$work/pictures"
mkdir -p "$pictures"
if [ $# -ge 3 ]; then
    cp -r "$3"/. "$pictures"
else
    for seed in fuzz/animation-seeds/*; do
        name=$(basename "$seed")
        cp "$seed" "$pictures/$name"
        size=$(stat -c %s "$seed")
        head -c $((size * 3 / 4)) "$seed" >"$pictures/cut-$name"
        cp "$seed" "$pictures/overwritten-$name"
        printf '\xff\x00\xff\x00\xff\x00\xff\x00' |
            dd of="$pictures/overwritten-$name" bs=1 seek=$((size / 2)) conv=notrunc status=none
    done
fi

export QT_QPA_PLATFORM=offscreen
failures=0
runs=0
run() {
    local log="$work/log"
    local status=0
    (cd "$work" && "$program" --settings "$work/settings/" "$@" >"$log" 2>&1) || status=$?
    runs=$((runs + 1))
    if [ "$status" -ne 0 ]; then
        failures=$((failures + 1))
        echo "exit status $status: $*"
        tail -5 "$log"
    fi
}
all=$(find "$pictures" -type f | sort | paste -sd,)
for ((round = 1; round <= rounds; ++round)); do
    for picture in "$pictures"/*; do
        run -c "load;$picture" -c "exportScene;$work/out.png" -c exit
    done
    run -c "load;$all" -c "exportScene;$work/out.png" -c exit
done
echo "exit-check: $runs runs, $failures not ending with status 0"
[ "$failures" -eq 0 ]
