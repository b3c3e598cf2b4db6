#!/usr/bin/env bash
# Runs the libFuzzer targets of fuzz/ one after another, each for SECONDS on every core:
#
#   scripts/fuzz.sh SECONDS [TARGET...]     all targets when none is named
#
# Configures build-fuzz/ with clang when needed and builds the targets there (with the sanitizers);
# the thumbnailer, which starts decoder helpers, takes a normal build's from build/, built here if
# missing. Inputs start from the target's seeds and the minimised corpus of earlier runs in
# fuzz/corpus/TARGET. New inputs go to build-fuzz/corpus-TARGET, crashes, leaks and timeouts to
# build-fuzz/findings/TARGET-*, each run's output to build-fuzz/logs/TARGET.log. Exits non-zero
# when any target found something; run a finding alone for its full report:
#
#   build-fuzz/TARGET build-fuzz/findings/TARGET-crash-...
#
# Everything runs at the lowest priority: the machine stays usable while it fuzzes.
set -euo pipefail
cd "$(dirname "$0")/.."

all_targets=(
    fuzz_savefilereader fuzz_thumbnailer fuzz_pngdecoder fuzz_jpegdecoder fuzz_itemrecords
    fuzz_pastepipe fuzz_decoderreply fuzz_updaterecord fuzz_htmlimageurls fuzz_settingsfile
    fuzz_animationdecoder fuzz_beeboardreader
)

# The committed seeds of each target.
seeds_of() {
    case "$1" in
    fuzz_savefilereader | fuzz_thumbnailer) echo fuzz/seeds ;;
    fuzz_pngdecoder) echo fuzz/png-seeds ;;
    fuzz_jpegdecoder) echo fuzz/jpeg-seeds ;;
    fuzz_itemrecords) echo fuzz/record-seeds ;;
    fuzz_pastepipe) echo fuzz/pipe-seeds ;;
    fuzz_decoderreply) echo fuzz/replies ;;
    fuzz_updaterecord) echo fuzz/update-seeds ;;
    fuzz_htmlimageurls) echo fuzz/html-seeds ;;
    fuzz_settingsfile) echo fuzz/settings-seeds ;;
    fuzz_animationdecoder) echo fuzz/animation-seeds ;;
    fuzz_beeboardreader) echo fuzz/bee-seeds ;;
    *) return 1 ;;
    esac
}

# The minimised corpus of earlier long runs, where one is committed.
committed_corpus_of() {
    if [ -d "fuzz/corpus/$1" ]; then
        echo "fuzz/corpus/$1"
    fi
}

# Options of a target beyond the common ones.
options_of() {
    case "$1" in
    fuzz_pngdecoder) echo -max_len=65536 ;;
    fuzz_thumbnailer) echo -rss_limit_mb=1024 ;;
    # Boards of pages of 512 bytes: sixteen pages hold the seeds' tables, pictures and notes.
    fuzz_beeboardreader) echo -max_len=8192 -rss_limit_mb=4096 ;;
    *) echo -rss_limit_mb=4096 ;;
    esac
}

if [ $# -lt 1 ] || ! [[ "$1" =~ ^[0-9]+$ ]]; then
    echo "usage: $0 SECONDS [TARGET...]" >&2
    echo "targets: ${all_targets[*]}" >&2
    exit 2
fi
seconds=$1
shift
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=("${all_targets[@]}")
fi
for target in "${targets[@]}"; do
    if ! seeds_of "$target" >/dev/null; then
        echo "unknown target: $target" >&2
        exit 2
    fi
done

scripts/install-deps.sh --fuzz
if [ ! -f build-fuzz/CMakeCache.txt ]; then
    CC=clang CXX=clang++ cmake -S fuzz -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
nice -n 19 cmake --build build-fuzz --parallel 2 --target "${targets[@]}"

# The helpers must be a normal build's: the sanitized ones cannot live in their sandbox.
helpers=()
for target in "${targets[@]}"; do
    case "$target" in
    fuzz_thumbnailer) helpers+=(velkora-decoder) ;;
    esac
done
if [ ${#helpers[@]} -gt 0 ]; then
    if [ ! -f build/CMakeCache.txt ]; then
        cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    fi
    nice -n 19 cmake --build build --parallel 2 --target "${helpers[@]}"
fi

mkdir -p build-fuzz/findings build-fuzz/logs
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp"

# Allocation stacks of two frames: recording whole ones took most of the time. A target whose
# library leaks in ways scripts/lsan.supp names needs whole ones for them to match.
asan_options_of() {
    case "$1" in
    fuzz_updaterecord) echo "malloc_context_size=30:fast_unwind_on_malloc=0" ;;
    *) echo "malloc_context_size=2" ;;
    esac
}
export VELKORA_DECODER="$PWD/build/velkora-decoder"
# fuzz_decoderreply plays the helper itself: it would go through a real one with this set.
unset VELKORA_FUZZ_HELPER

failed=()
for target in "${targets[@]}"; do
    corpus="build-fuzz/corpus-$target"
    log="build-fuzz/logs/$target.log"
    mkdir -p "$corpus"
    echo "== $target: $seconds s on $(nproc) cores"
    status=0
    # Fork mode passes over timeouts and running out of memory unless told otherwise; both are
    # findings here: a file must not hang the program or take all its memory.
    # shellcheck disable=SC2046 # the options are words
    ASAN_OPTIONS=$(asan_options_of "$target") nice -n 19 "build-fuzz/$target" -fork="$(nproc)" -ignore_timeouts=0 -ignore_ooms=0 \
        -entropic=0 -max_total_time="$seconds" -timeout=10 $(options_of "$target") -artifact_prefix="build-fuzz/findings/$target-" \
        "$corpus" $(seeds_of "$target") $(committed_corpus_of "$target") >"$log" 2>&1 || status=$?
    # The last status line: executions, coverage and speed.
    grep -E '^#[0-9]+' "$log" | tail -n 1 || true
    if [ "$status" -ne 0 ]; then
        failed+=("$target")
        echo "$target found something (exit $status): see $log and build-fuzz/findings/"
    fi
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "Findings in: ${failed[*]}"
    exit 1
fi
echo "No findings."
