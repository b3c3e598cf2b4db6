#!/usr/bin/env bash
# Builds the tests that end background work early (items deleted while their pictures are still
# being derived, loads and downloads cancelled, saves killed) and those that read bytes from
# outside (boards of ours and of BeeRef, pictures and animations, the clipboard and the paste
# pipe, decoder helpers' replies, item records, HTML, the settings file, update records), and the
# ways the program ends while pictures still decode, with AddressSanitizer and UndefinedBehaviorSanitizer into build-asan/, and runs them. Extra
# arguments go to ctest.
set -euo pipefail
cd "$(dirname "$0")/.."

tests=(
    scene_graphicsimagegenerator
    loading_fetchbatch
    loading_imageloader
    persistence_savefileloader
    picture_pngdecoder
    picture_pictureblock
    picture_jpegdecoder
    app_killedsave
    persistence_beeboardreader
    persistence_itemrecordcodec
    picture_animationdecoder
    picture_decoderpool
    clipboard_copypastehandler
    app_thumbnailer
    loading_htmlimageurls
    settings_settings
    update_updatemanifest
    app_namedcommands
)

scripts/install-deps.sh
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELKORA_SANITIZE=ON >/dev/null
cmake --build build-asan --parallel "$(nproc)" \
    --target "${tests[@]/#/tst_}" velkora_save_driver

# Whole allocation stacks (fast_unwind_on_malloc=0) cost time but let a suppression name the
# library code that leaked; Qt is built without the frame pointers the fast unwinder follows.
export ASAN_OPTIONS="detect_leaks=1:fast_unwind_on_malloc=0:detect_stack_use_after_return=1"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# With whole stacks every start of the program takes half a minute on a slow machine: the
# killed-save test, which starts it once or twice a round, runs three rounds here instead of
# twenty (the normal build runs all), and each of its rows may take ten minutes.
export VELKORA_KILLED_SAVE_ROUNDS=3
# A sanitized decoder helper cannot run inside its sandbox, which refuses the sanitizer's own
# calls: pictures that need a helper go to the normal build's, which scripts/test.sh builds first.
if [[ -x build/velkora-decoder ]]; then
    export VELKORA_DECODER="$PWD/build/velkora-decoder"
fi
# So does the decoder pool's test with its helper that misbehaves as told: the pool's side, which
# reads the helper's replies, is what runs sanitized.
if [[ -x build/tests/velkora-decoder-test ]]; then
    export VELKORA_TEST_DECODER="$PWD/build/tests/velkora-decoder-test"
fi
export QTEST_FUNCTION_TIMEOUT=600000
pattern="^($(IFS='|'; echo "${tests[*]}"))\$"
exec ctest --test-dir build-asan --output-on-failure --parallel "$(nproc)" -R "$pattern" "$@"
